#include "tools/test_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string_view>

#include "tools/connection.h"
#include "tools/proxy_request.h"
#include "tools/received_request.h"
#include "tools/response_head.h"

namespace qinglan {
namespace {

// Real request heads are well under a kilobyte; anything near this is abuse.
constexpr std::size_t kMaxHeadBytes = 64 * 1024;

// SOCKS5 (RFC 1928) and its login (RFC 1929).
constexpr unsigned char kSocksVersion = 5;
constexpr unsigned char kNoLogin = 0, kPasswordLogin = 2, kNoMethod = 0xFF;
constexpr unsigned char kLoginVersion = 1;
constexpr unsigned char kConnect = 1;
constexpr unsigned char kIpv4 = 1, kDomainName = 3, kIpv6 = 4;
constexpr unsigned char kSucceeded = 0, kRefused = 5, kCommandUnsupported = 7,
                        kAddressUnsupported = 8;

// Whatever the client asked for, the connection goes to this machine only.
std::unique_ptr<Connection> connect_onward(std::uint16_t port, int wake_fd) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return nullptr;
    }
    auto connection = std::make_unique<Connection>(fd, wake_fd);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    int result;
    do {
        result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return nullptr;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return connection;
}

void send_short_answer(Connection& client, std::string_view version, int status,
                       const std::vector<std::string>& extra_headers = {}) {
    const std::string body =
        std::to_string(status) + " " + std::string(reason_phrase(status)) + "\n";
    client.send_all(response_head(version, status, "text/plain", body.size(), extra_headers) +
                    body);
    client.finish();
}

void send_socks_reply(Connection& client, unsigned char code) {
    // The bound address is of no use to a client that reaches 127.0.0.1
    // anyway; zeros are what most servers send.
    const unsigned char reply[] = {kSocksVersion, code, 0, kIpv4, 0, 0, 0, 0, 0, 0};
    client.send_all(std::string_view(reinterpret_cast<const char*>(reply), sizeof reply));
}

// Reads a length byte and that many bytes.
bool read_counted(Connection& client, std::string* text) {
    unsigned char size = 0;
    if (!client.read_exactly(reinterpret_cast<char*>(&size), 1)) {
        return false;
    }
    text->assign(size, '\0');
    return client.read_exactly(text->data(), size);
}

// The address of a SOCKS5 request of type `type` in text form; false when
// the client left or the type is unknown (`known` then tells which).
bool read_socks_address(Connection& client, unsigned char type, std::string* host, bool* known) {
    *known = type == kIpv4 || type == kIpv6 || type == kDomainName;
    if (type == kDomainName) {
        return read_counted(client, host);
    }
    if (!*known) {
        return false;
    }
    const int family = type == kIpv4 ? AF_INET : AF_INET6;
    unsigned char address[16];
    char text[INET6_ADDRSTRLEN] = {};
    if (!client.read_exactly(reinterpret_cast<char*>(address), type == kIpv4 ? 4 : 16) ||
        inet_ntop(family, address, text, sizeof text) == nullptr) {
        return false;
    }
    *host = text;
    return true;
}

}  // namespace

TestProxy::TestProxy(ProxyMode mode)
    : mode_(mode), server_([this](int fd, int wake_fd) { serve(fd, wake_fd); }) {}

TestProxy::~TestProxy() {
    stop();
}

void TestProxy::require_login(std::string user, std::string password) {
    std::lock_guard lock(mutex_);
    login_ = Login(std::move(user), std::move(password));
}

bool TestProxy::start() {
    return server_.start();
}

void TestProxy::stop() {
    server_.stop();
}

std::uint16_t TestProxy::port() const {
    return server_.port();
}

std::string TestProxy::url(const std::string& scheme) const {
    const std::string own = mode_ == ProxyMode::kHttp ? "http" : "socks5";
    return (scheme.empty() ? own : scheme) + "://127.0.0.1:" + std::to_string(port());
}

std::vector<ProxiedRequest> TestProxy::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void TestProxy::clear_requests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void TestProxy::log(const ProxiedRequest& request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
}

bool TestProxy::login_required() const {
    std::lock_guard lock(mutex_);
    return login_.has_value();
}

bool TestProxy::admit(const std::optional<Login>& given, ProxiedRequest& seen) const {
    std::lock_guard lock(mutex_);
    if (given) {
        seen.user = given->first;
    }
    if (!login_) {
        return true;
    }
    seen.authenticated = given == login_;
    return seen.authenticated;
}

void TestProxy::serve(int fd, int wake_fd) {
    Connection client(fd, wake_fd);
    // A failure while serving one client (even out of memory) ends that
    // connection only.
    try {
        if (mode_ == ProxyMode::kHttp) {
            serve_http(client, wake_fd);
        } else {
            serve_socks(client, wake_fd);
        }
    } catch (...) {
    }
}

void TestProxy::serve_http(Connection& client, int wake_fd) {
    std::string head;
    ReceivedRequest request;
    if (client.read_head(head, kMaxHeadBytes) != Connection::HeadResult::kComplete) {
        return;
    }
    if (!parse_request_head(head, request)) {
        send_short_answer(client, "HTTP/1.1", 400);
        return;
    }
    ProxiedRequest seen{.mode = ProxyMode::kHttp, .target = request.target};
    const bool tunnel = request.method == "CONNECT";
    const std::optional<AbsoluteUrl> url =
        tunnel ? parse_authority(request.target) : parse_http_url(request.target);
    if (url) {
        seen.host = url->host;
        seen.port = url->port;
    }
    const std::string authorization = request.header("Proxy-Authorization");
    const bool admitted = admit(basic_login(authorization), seen);
    log(seen);
    if (!admitted) {
        send_short_answer(client, request.version, 407,
                          {"Proxy-Authenticate: Basic realm=\"qinglan test proxy\""});
        return;
    }
    if (!url || tunnel) {
        send_short_answer(client, request.version, tunnel ? 501 : 400);
        return;
    }
    std::unique_ptr<Connection> server = connect_onward(url->port, wake_fd);
    if (!server) {
        send_short_answer(client, request.version, 502);
        return;
    }
    std::string forwarded =
        request.method + " " + url->path_and_query + " " + request.version + "\r\n";
    for (const auto& [name, value] : request.headers) {
        if (!is_proxy_header(name)) {
            forwarded += name + ": " + value + "\r\n";
        }
    }
    forwarded += "\r\n";
    if (server->send_all(forwarded)) {
        client.relay(*server);
    }
}

// The method choice and, when a login is required, the login. False when
// the client may not go on.
bool TestProxy::socks_login(Connection& client, ProxiedRequest& seen) {
    unsigned char greeting[2];
    std::string methods;
    if (!client.read_exactly(reinterpret_cast<char*>(greeting), 2) ||
        greeting[0] != kSocksVersion) {
        return false;
    }
    methods.resize(greeting[1]);
    if (!client.read_exactly(methods.data(), methods.size())) {
        return false;
    }
    const unsigned char method = login_required() ? kPasswordLogin : kNoLogin;
    const bool offered = methods.find(static_cast<char>(method)) != std::string::npos;
    const char choice[] = {static_cast<char>(kSocksVersion),
                           static_cast<char>(offered ? method : kNoMethod)};
    // Logged before the client hears the refusal, so that whoever waits for
    // the client's failure finds it in the log.
    if (!offered) {
        log(seen);
    }
    if (!client.send_all(std::string_view(choice, 2)) || !offered) {
        return false;
    }
    if (method == kNoLogin) {
        return admit(std::nullopt, seen);
    }
    char version = 0;
    Login given;
    if (!client.read_exactly(&version, 1) || version != kLoginVersion ||
        !read_counted(client, &given.first) || !read_counted(client, &given.second)) {
        return false;
    }
    const bool admitted = admit(given, seen);
    if (!admitted) {
        log(seen);
    }
    const char status[] = {static_cast<char>(kLoginVersion), static_cast<char>(admitted ? 0 : 1)};
    client.send_all(std::string_view(status, 2));
    return admitted;
}

void TestProxy::serve_socks(Connection& client, int wake_fd) {
    ProxiedRequest seen{.mode = ProxyMode::kSocks5};
    if (!socks_login(client, seen)) {
        return;
    }
    unsigned char request[4];  // version, command, reserved, address type
    if (!client.read_exactly(reinterpret_cast<char*>(request), sizeof request) ||
        request[0] != kSocksVersion) {
        return;
    }
    bool known = false;
    if (!read_socks_address(client, request[3], &seen.host, &known)) {
        if (!known) {
            send_socks_reply(client, kAddressUnsupported);
        }
        return;
    }
    unsigned char port[2];
    if (!client.read_exactly(reinterpret_cast<char*>(port), 2)) {
        return;
    }
    seen.port = static_cast<std::uint16_t>(port[0] << 8 | port[1]);
    log(seen);
    if (request[1] != kConnect) {
        send_socks_reply(client, kCommandUnsupported);
        return;
    }
    std::unique_ptr<Connection> server = connect_onward(seen.port, wake_fd);
    send_socks_reply(client, server ? kSucceeded : kRefused);
    if (server) {
        client.relay(*server);
    }
}

}  // namespace qinglan
