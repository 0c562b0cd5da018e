#pragma once

// A client socket to a test server on 127.0.0.1 that sends and reads bytes
// exactly as a test says, for the faults no real client would commit.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace qinglan {

// Connected on construction, closed on destruction; reads give up after 5 s
// so a server fault fails the test instead of hanging it.
class RawClient {
public:
    explicit RawClient(std::uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        timeval timeout{5, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return connected_; }
    bool send_text(std::string_view text) {
        return send(fd_, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }
    // Everything up to the server's close.
    std::string read_all() {
        std::string all;
        char buffer[65536];
        ssize_t got;
        while ((got = recv(fd_, buffer, sizeof buffer, 0)) > 0) {
            all.append(buffer, static_cast<std::size_t>(got));
        }
        return all;
    }
    // The next `size` bytes, or fewer when the server closes first.
    std::string read_bytes(std::size_t size) {
        std::string bytes(size, '\0');
        std::size_t have = 0;
        ssize_t got;
        while (have < size && (got = recv(fd_, &bytes[have], size - have, 0)) > 0) {
            have += static_cast<std::size_t>(got);
        }
        bytes.resize(have);
        return bytes;
    }

private:
    int fd_;
    bool connected_ = false;
};

}  // namespace qinglan
