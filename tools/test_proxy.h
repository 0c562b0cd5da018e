#pragma once

// A proxy for tests on 127.0.0.1, in one of two modes: an HTTP forward
// proxy, or a SOCKS5 proxy (RFC 1928) with the user name and password
// method of RFC 1929. Either may require a login. Whatever host a client
// asks for, the proxy connects onward to 127.0.0.1 at the port asked for,
// so nothing sent through it leaves the machine; the sample marketplace's
// hosts (127.0.0.1:PORT, ACCOUNT.localhost:PORT) all end up there.
//
// The HTTP mode takes requests whose target is an absolute http:// URL,
// answers 407 with Proxy-Authenticate when the login is missing or wrong,
// and sends the request on with the target's path and query only and the
// client's header lines except the Proxy-* ones; the answer goes back as it
// comes until the server closes. CONNECT is not offered (501). The SOCKS5
// mode offers CONNECT to IPv4, IPv6 and domain-name addresses, then passes
// bytes both ways.
//
// It records what every client asked for, the refused ones included. A
// client that breaks the protocol is let go; nothing a client does stops
// the proxy. Every member is safe to call from any thread, also while
// serving.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/loopback_server.h"

namespace qinglan {

class Connection;

enum class ProxyMode { kHttp, kSocks5 };

// One request (HTTP) or one connection (SOCKS5) as the proxy saw it.
struct ProxiedRequest {
    ProxyMode mode = ProxyMode::kHttp;
    // The host as the client named it: a name, or an address in text form
    // ("127.0.0.1", "::1"). Empty when the client was refused before it
    // said (a SOCKS5 login comes first).
    std::string host{};
    std::uint16_t port = 0;
    // HTTP: the target as sent, an absolute URL or the HOST:PORT of a
    // CONNECT; SOCKS5: empty.
    std::string target{};
    std::string user{};          // the user name the client gave; empty when it gave none
    bool authenticated = false;  // a login was required and the client gave it right
};

class TestProxy {
public:
    explicit TestProxy(ProxyMode mode);
    ~TestProxy();  // stops
    TestProxy(const TestProxy&) = delete;
    TestProxy& operator=(const TestProxy&) = delete;

    // From now on clients must log in as `user` with `password`.
    void require_login(std::string user, std::string password);

    // Binds 127.0.0.1 on a free port and starts serving; false when it
    // cannot. stop() closes every connection and joins every thread.
    bool start();
    void stop();

    std::uint16_t port() const;  // 0 while stopped
    // "http://127.0.0.1:PORT" or "socks5://127.0.0.1:PORT"; `scheme`, when
    // given, in place of the mode's ("socks5h").
    std::string url(const std::string& scheme = {}) const;

    std::vector<ProxiedRequest> requests() const;
    void clear_requests();

private:
    using Login = std::pair<std::string, std::string>;  // user, password

    void serve(int fd, int wake_fd);
    void serve_http(Connection& client, int wake_fd);
    void serve_socks(Connection& client, int wake_fd);
    bool socks_login(Connection& client, ProxiedRequest& seen);
    // Whether a client that gave `given` (or nothing) may pass; notes in
    // `seen` what it gave and whether it was right.
    bool admit(const std::optional<Login>& given, ProxiedRequest& seen) const;
    bool login_required() const;
    void log(const ProxiedRequest& request);

    const ProxyMode mode_;
    mutable std::mutex mutex_;  // guards the members below
    std::optional<Login> login_;
    std::vector<ProxiedRequest> requests_;

    LoopbackServer server_;
};

}  // namespace qinglan
