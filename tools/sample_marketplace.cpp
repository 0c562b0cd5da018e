#include "tools/sample_marketplace.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

#include "tools/connection.h"
#include "tools/marketplace_route.h"
#include "tools/response_head.h"

namespace qinglan {
namespace {

// Real request heads are well under a kilobyte; anything near this is abuse.
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kEndlessBlockBytes = 64 * 1024;
// Answers a blocked request whose marketplace has no verification page of
// its own; ASCII, so it reads the same in every charset.
constexpr std::string_view kPlainBlockPage =
    "<html><head><title>Verify you are human</title></head>"
    "<body>Please complete the captcha to continue.</body></html>";

void send_short_answer(Connection& connection, std::string_view version, int status,
                       const std::vector<std::string>& extra_headers = {}) {
    std::string body = std::to_string(status) + " " + std::string(reason_phrase(status)) + "\n";
    connection.send_all(response_head(version, status, "text/plain", body.size(), extra_headers) +
                        body);
    connection.finish();
}

// The head, then whole copies of the body in large sends until the client
// goes, so the client, not this server, is what the stream's speed is bounded
// by.
void send_endlessly(Connection& connection, const std::string& head, std::string_view body) {
    std::string block(body.empty() ? std::string_view("x") : body);
    while (block.size() < kEndlessBlockBytes) {
        block += block;
    }
    if (connection.send_all(head)) {
        while (connection.send_all(block)) {
        }
    }
}

std::optional<std::string> read_file(const std::string& path) {
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The keys that may answer a route, the most particular first.
std::array<const std::string*, 3> answering_keys(const MarketplaceRoute& route) {
    return {&route.key, &route.page_fallback_key, &route.fallback_key};
}

}  // namespace

SampleMarketplace::SampleMarketplace()
    : server_([this](int fd, int wake_fd) { serve(fd, wake_fd); }) {}

SampleMarketplace::~SampleMarketplace() {
    stop();
}

void SampleMarketplace::serve_folder(std::string dir) {
    std::lock_guard lock(data_mutex_);
    folder_ = std::move(dir);
}

void SampleMarketplace::set_resource(std::string key, std::string body, std::string content_type) {
    auto resource =
        std::make_shared<const Resource>(Resource{std::move(body), std::move(content_type)});
    std::lock_guard lock(data_mutex_);
    resources_[std::move(key)] = std::move(resource);
}

void SampleMarketplace::set_behaviour(std::string key, Behaviour behaviour) {
    std::lock_guard lock(data_mutex_);
    behaviours_[std::move(key)] = std::move(behaviour);
}

void SampleMarketplace::set_default_behaviour(Behaviour behaviour) {
    std::lock_guard lock(data_mutex_);
    default_behaviour_ = std::move(behaviour);
}

void SampleMarketplace::clear_behaviours() {
    std::lock_guard lock(data_mutex_);
    behaviours_.clear();
    default_behaviour_ = Behaviour();
    failures_sent_.clear();
    blocks_sent_.clear();
}

bool SampleMarketplace::start(std::uint16_t port) {
    return server_.start(port);
}

void SampleMarketplace::stop() {
    server_.stop();
}

std::uint16_t SampleMarketplace::port() const {
    return server_.port();
}

std::string SampleMarketplace::search_host() const {
    return "127.0.0.1:" + std::to_string(port());
}

std::string SampleMarketplace::member_host() const {
    return "127.0.0.1:" + std::to_string(port());
}

std::string SampleMarketplace::contact_domain() const {
    return "localhost:" + std::to_string(port());
}

std::string SampleMarketplace::base_url() const {
    return "http://127.0.0.1:" + std::to_string(port()) + "/";
}

std::vector<ReceivedRequest> SampleMarketplace::requests() const {
    std::lock_guard lock(data_mutex_);
    return requests_;
}

void SampleMarketplace::clear_requests() {
    std::lock_guard lock(data_mutex_);
    requests_.clear();
    most_at_once_ = 0;
    most_at_once_by_host_.clear();
}

void SampleMarketplace::serve(int fd, int wake_fd) {
    Connection connection(fd, wake_fd);
    // A failure while answering one client (even out of memory) ends that
    // connection only.
    try {
        std::string head;
        const Connection::HeadResult result = connection.read_head(head, kMaxHeadBytes);
        ReceivedRequest request;
        if (result == Connection::HeadResult::kTooLarge) {
            request.target = head.substr(0, std::min<std::size_t>(head.find('\n'), 200));
            log(request);
            send_short_answer(connection, "HTTP/1.1", 431);
            return;
        }
        if (result != Connection::HeadResult::kComplete) {
            return;
        }
        if (!parse_request_head(head, request)) {
            log(request);
            send_short_answer(connection, "HTTP/1.1", 400);
            return;
        }
        answer(connection, std::move(request));
    } catch (...) {
    }
}

void SampleMarketplace::log(const ReceivedRequest& request) {
    std::lock_guard lock(data_mutex_);
    requests_.push_back(request);
    requests_.back().received_at = std::chrono::steady_clock::now();
}

int SampleMarketplace::most_at_once() const {
    std::lock_guard lock(data_mutex_);
    return most_at_once_;
}

std::map<std::string, int> SampleMarketplace::most_at_once_by_host() const {
    std::lock_guard lock(data_mutex_);
    return most_at_once_by_host_;
}

std::shared_ptr<const SampleMarketplace::Resource> SampleMarketplace::find_resource(
    const std::string& key) const {
    if (key.empty()) {
        return nullptr;
    }
    std::string folder;
    {
        std::lock_guard lock(data_mutex_);
        if (const auto found = resources_.find(key); found != resources_.end()) {
            return found->second;
        }
        folder = folder_;
    }
    if (folder.empty()) {
        return nullptr;
    }
    std::optional<std::string> body = read_file(folder_file(folder, key));
    if (!body) {
        return nullptr;
    }
    return std::make_shared<const Resource>(Resource{std::move(*body), {}});
}

// Counts a request as being answered from its head's arrival until its
// answer is sent or abandoned: while it is counted, the client's transfer
// is surely still running, so what the counts see a client did at least.
class SampleMarketplace::Answering {
public:
    Answering(SampleMarketplace& market, std::string host)
        : market_(market), host_(std::move(host)) {
        std::lock_guard lock(market_.data_mutex_);
        market_.most_at_once_ = std::max(market_.most_at_once_, ++market_.at_once_);
        int& to_host = market_.at_once_by_host_[host_];
        market_.most_at_once_by_host_[host_] =
            std::max(market_.most_at_once_by_host_[host_], ++to_host);
    }
    ~Answering() { end(); }
    void end() {
        if (ended_) {
            return;
        }
        ended_ = true;
        std::lock_guard lock(market_.data_mutex_);
        --market_.at_once_;
        --market_.at_once_by_host_[host_];
    }

private:
    SampleMarketplace& market_;
    const std::string host_;
    bool ended_ = false;
};

void SampleMarketplace::answer(Connection& connection, ReceivedRequest request) {
    const MarketplaceRoute route = route_request(request);
    request.resource_key = route.key;
    log(request);
    Answering answering(*this, request.host);

    if (request.method != "GET" && request.method != "HEAD") {
        answering.end();
        send_short_answer(connection, request.version, 405, {"Allow: GET, HEAD"});
        return;
    }
    Turn turn = Turn::kAnswer;
    const Behaviour behaviour = behaviour_for(route, &turn);
    if (behaviour.delay_ms > 0 && !connection.pause(behaviour.delay_ms)) {
        return;
    }
    if (turn == Turn::kFail) {
        answering.end();
        send_short_answer(connection, request.version, behaviour.fail_status,
                          behaviour.extra_headers);
        return;
    }
    if (behaviour.never_answer) {
        connection.hold();
        return;
    }
    send_reply(connection, request, route, behaviour, turn == Turn::kBlock, answering);
}

Behaviour SampleMarketplace::behaviour_for(const MarketplaceRoute& route, Turn* turn) {
    std::lock_guard lock(data_mutex_);
    auto found = behaviours_.end();
    for (const std::string* key : answering_keys(route)) {
        if (found == behaviours_.end() && !key->empty()) {
            found = behaviours_.find(*key);
        }
    }
    const std::string* counted = &route.key;
    Behaviour behaviour = default_behaviour_;
    if (found != behaviours_.end()) {
        behaviour = found->second;
        counted = &found->first;
    }
    *turn = Turn::kAnswer;
    if (behaviour.fail_times > 0 && ++failures_sent_[*counted] <= behaviour.fail_times) {
        *turn = Turn::kFail;
    } else if (behaviour.block_times > 0 && ++blocks_sent_[*counted] <= behaviour.block_times) {
        *turn = Turn::kBlock;
    }
    return behaviour;
}

void SampleMarketplace::send_reply(Connection& connection, const ReceivedRequest& request,
                                   const MarketplaceRoute& route, const Behaviour& behaviour,
                                   bool blocking, Answering& answering) const {
    const bool head_only = request.method == "HEAD";
    const Reply reply =
        blocking ? compose_block_reply(route, behaviour) : compose_reply(route, behaviour);
    std::optional<std::size_t> length;
    if (behaviour.content_length && !behaviour.endless) {
        length = reply.body.size();
    }
    const std::string head =
        response_head(request.version, reply.status, reply.content_type, length, reply.headers);
    if (behaviour.endless && !head_only) {
        send_endlessly(connection, head, reply.body);
        return;
    }
    std::string_view to_send = head_only ? std::string_view() : reply.body;
    if (behaviour.drop_after >= 0) {
        to_send = to_send.substr(0, static_cast<std::size_t>(behaviour.drop_after));
    }
    if (behaviour.chunk_delay_ms <= 0) {
        // Before the last byte goes: once it is out, the client may be done.
        answering.end();
        if (connection.send_all(head + std::string(to_send))) {
            connection.finish();
        }
        return;
    }
    send_in_pieces(connection, head, to_send, behaviour, answering);
}

void SampleMarketplace::send_in_pieces(Connection& connection, const std::string& head,
                                       std::string_view to_send, const Behaviour& behaviour,
                                       Answering& answering) {
    if (!connection.send_all(head)) {
        return;
    }
    const std::size_t piece = static_cast<std::size_t>(std::max(1, behaviour.chunk_bytes));
    for (bool first = true; !to_send.empty(); first = false) {
        if (!first && !connection.pause(behaviour.chunk_delay_ms)) {
            return;
        }
        if (to_send.size() <= piece) {
            answering.end();
        }
        if (!connection.send_all(to_send.substr(0, piece))) {
            return;
        }
        to_send.remove_prefix(std::min(piece, to_send.size()));
    }
    connection.finish();
}

SampleMarketplace::Reply SampleMarketplace::compose_reply(const MarketplaceRoute& route,
                                                          const Behaviour& behaviour) const {
    Reply reply;
    reply.headers = behaviour.extra_headers;
    if (!behaviour.location.empty()) {
        reply.status = behaviour.status == 200 ? 302 : behaviour.status;
        reply.headers.push_back("Location: " + behaviour.location);
        reply.own_body = "<html><body>Moved to " + behaviour.location + "</body></html>";
        reply.body = reply.own_body;
    } else {
        std::string key;
        for (const std::string* candidate : answering_keys(route)) {
            if (!reply.resource && !candidate->empty()) {
                key = *candidate;
                reply.resource = find_resource(key);
            }
        }
        if (reply.resource) {
            reply.status = behaviour.status;
            reply.content_type = reply.resource->content_type.empty()
                                     ? default_content_type(key)
                                     : reply.resource->content_type;
            reply.body = reply.resource->body;
            if (!route.callback.empty()) {
                reply.own_body = route.callback + "(" + reply.resource->body + ")";
                reply.body = reply.own_body;
            }
        }
    }
    if (!behaviour.content_type.empty()) {
        reply.content_type = behaviour.content_type;
    }
    return reply;
}

SampleMarketplace::Reply SampleMarketplace::compose_block_reply(const MarketplaceRoute& route,
                                                                const Behaviour& behaviour) const {
    Reply reply;
    reply.status = 200;
    reply.headers = behaviour.extra_headers;
    reply.resource = find_resource(route.block_key);
    if (reply.resource) {
        reply.content_type = reply.resource->content_type.empty()
                                 ? default_content_type(route.block_key)
                                 : reply.resource->content_type;
        reply.body = reply.resource->body;
    } else {
        reply.body = kPlainBlockPage;
    }
    if (!behaviour.content_type.empty()) {
        reply.content_type = behaviour.content_type;
    }
    return reply;
}

}  // namespace qinglan
