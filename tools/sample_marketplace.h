#pragma once

// A small stand-in for the B2B marketplace and the update server, serving
// HTTP/1.0 and 1.1 on 127.0.0.1 for tests, benchmarks and the demo mode.
//
// It owns a listening socket, one thread accepting and one thread per
// connection. Every request is routed to a resource key (see
// marketplace_route.h) and answered from the in-memory resources, then from
// the served folder, else with 404; a Behaviour set for the key changes how
// the answer goes out (status, redirect, delays, a dropped connection, …).
// Each answer closes its connection. Malformed requests get 400 and clients
// that leave early are let go; nothing a client does stops the server.
//
// Every member is safe to call from any thread, also while serving.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tools/loopback_server.h"
#include "tools/received_request.h"

namespace qinglan {

class Connection;
struct MarketplaceRoute;

// How the server answers one resource. The default answers 200 with the body.
// Every member has an initializer so that designated initializers such as
// {.status = 404} leave the rest at their defaults without warnings.
struct Behaviour {
    int status = 200;  // e.g. 404 or 500, answered with the resource's body
    // Non-empty: answer `status` (302 while it is 200) with this Location and
    // a short body of its own; the resource itself is not needed.
    std::string location{};
    // 0 or more: announce the full Content-Length, send only this many body
    // bytes, then close.
    long drop_after = -1;
    int delay_ms = 0;        // wait this long before answering
    int chunk_delay_ms = 0;  // above 0: send the body chunk_bytes at a time with this pause between
    int chunk_bytes = 256;
    // Read the request, then hold the connection open without sending a byte
    // until the client leaves or the server stops.
    bool never_answer = false;
    // False: no Content-Length; the body ends when the connection closes.
    bool content_length = true;
    std::string content_type{};                // overrides the resource's own
    std::vector<std::string> extra_headers{};  // whole lines, e.g. "Set-Cookie: a=1"
    // Answer the first `fail_times` requests for the key with `fail_status`
    // and a short body of its own (with extra_headers, e.g. "Retry-After: 1"),
    // then as set above. clear_behaviours() starts the count again.
    int fail_times = 0;
    int fail_status = 503;
    // Then answer the next `block_times` requests for the key with the
    // route's verification page (see marketplace_route.h; a plain one when
    // the marketplace has none), 200 and without a JSONP wrapper, as a
    // marketplace does that asks a client to prove it is a person. The
    // count starts again with clear_behaviours() too.
    int block_times = 0;
    // Send the body over and over without a Content-Length, never ending,
    // until the client leaves or the server stops.
    bool endless = false;
};

class SampleMarketplace {
public:
    SampleMarketplace();
    ~SampleMarketplace();  // stops
    SampleMarketplace(const SampleMarketplace&) = delete;
    SampleMarketplace& operator=(const SampleMarketplace&) = delete;

    // Files of `dir` answer keys that have no in-memory resource.
    void serve_folder(std::string dir);
    // Raw bytes, never transcoded. An empty content type means the key's
    // default (HTML for search and contact pages, JavaScript for cards, …).
    void set_resource(std::string key, std::string body, std::string content_type = {});
    void set_behaviour(std::string key, Behaviour behaviour);
    // How every key without a behaviour of its own is answered (a plain
    // answer until set); failures of fail_times are counted per key.
    void set_default_behaviour(Behaviour behaviour);
    // Forgets the behaviours, the default one included.
    void clear_behaviours();

    // Binds 127.0.0.1:port (0 picks a free port) and starts serving. False
    // when the port cannot be bound or the server already runs.
    bool start(std::uint16_t port = 0);
    // Closes every connection, held ones included, and joins every thread.
    // The server can be started again afterwards.
    void stop();

    std::uint16_t port() const;       // 0 while stopped
    std::string search_host() const;  // "127.0.0.1:PORT"
    std::string member_host() const;  // "127.0.0.1:PORT"
    std::string contact_domain()
        const;                     // "localhost:PORT": contact hosts are ACCOUNT.localhost:PORT
    std::string base_url() const;  // "http://127.0.0.1:PORT/"

    // Every request received so far, in arrival order, logged before it was
    // answered (also the refused and the never answered ones).
    std::vector<ReceivedRequest> requests() const;
    // Also starts the counts below again.
    void clear_requests();

    // The most requests answered at once, in all and by Host header: from
    // the arrival of a request's head to the last byte of its answer.
    int most_at_once() const;
    std::map<std::string, int> most_at_once_by_host() const;

private:
    struct Resource {
        std::string body;
        std::string content_type;
    };

    static constexpr std::string_view kNotFoundBody = "<html><body>404 Not Found</body></html>";

    // What goes out for one request; `body` views `resource` or `own_body`.
    struct Reply {
        int status = 404;
        std::string content_type = "text/html";
        std::vector<std::string> headers;
        std::shared_ptr<const Resource> resource;
        std::string own_body;
        std::string_view body = kNotFoundBody;
    };

    class Answering;

    void serve(int fd, int wake_fd);
    void answer(Connection& connection, ReceivedRequest request);
    // What one request gets: a failure, the verification page, or the resource.
    enum class Turn { kFail, kBlock, kAnswer };
    // The behaviour of the route's key, else of its fallback keys, else the
    // default, and which of its turns this request is.
    Behaviour behaviour_for(const MarketplaceRoute& route, Turn* turn);
    // The reply as the behaviour shapes it: endless, whole, or in delayed pieces.
    void send_reply(Connection& connection, const ReceivedRequest& request,
                    const MarketplaceRoute& route, const Behaviour& behaviour, bool blocking,
                    Answering& answering) const;
    static void send_in_pieces(Connection& connection, const std::string& head,
                               std::string_view to_send, const Behaviour& behaviour,
                               Answering& answering);
    Reply compose_reply(const MarketplaceRoute& route, const Behaviour& behaviour) const;
    Reply compose_block_reply(const MarketplaceRoute& route, const Behaviour& behaviour) const;
    void log(const ReceivedRequest& request);
    std::shared_ptr<const Resource> find_resource(const std::string& key) const;

    mutable std::mutex data_mutex_;  // guards the members up to most_at_once_by_host_
    std::map<std::string, std::shared_ptr<const Resource>> resources_;
    std::map<std::string, Behaviour> behaviours_;
    Behaviour default_behaviour_;
    std::map<std::string, int> failures_sent_;  // by key, for Behaviour::fail_times
    std::map<std::string, int> blocks_sent_;    // by key, for Behaviour::block_times
    std::string folder_;
    std::vector<ReceivedRequest> requests_;
    int at_once_ = 0;
    int most_at_once_ = 0;
    std::map<std::string, int> at_once_by_host_;
    std::map<std::string, int> most_at_once_by_host_;

    LoopbackServer server_;
};

}  // namespace qinglan
