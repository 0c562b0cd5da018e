#include "tools/loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <utility>

namespace qinglan {
namespace {

void close_descriptor(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

LoopbackServer::LoopbackServer(Serve serve) : serve_(std::move(serve)) {}

LoopbackServer::~LoopbackServer() {
    stop();
}

bool LoopbackServer::start(std::uint16_t port) {
    std::lock_guard lock(lifecycle_mutex_);
    if (listen_fd_ >= 0) {
        return false;
    }
    int listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int wake[2] = {-1, -1};
    if (listen_fd < 0 || pipe2(wake, O_CLOEXEC) != 0) {
        close_descriptor(listen_fd);
        return false;
    }
    const int one = 1;
    setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    bool started = bind(listen_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                   listen(listen_fd, SOMAXCONN) == 0 &&
                   getsockname(listen_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (started) {
        try {
            acceptor_ = std::thread(&LoopbackServer::accept_loop, this, listen_fd, wake[0]);
        } catch (...) {
            started = false;
        }
    }
    if (!started) {
        close_descriptor(listen_fd);
        close_descriptor(wake[0]);
        close_descriptor(wake[1]);
        return false;
    }
    listen_fd_ = listen_fd;
    wake_read_fd_ = wake[0];
    wake_write_fd_ = wake[1];
    port_ = ntohs(address.sin_port);
    return true;
}

void LoopbackServer::stop() {
    std::lock_guard lock(lifecycle_mutex_);
    if (listen_fd_ < 0) {
        return;
    }
    // Nobody reads the wake pipe, so from now on it is readable for every
    // thread that polls it: the acceptor and all connections give up.
    const char byte = 1;
    while (write(wake_write_fd_, &byte, 1) < 0 && errno == EINTR) {
    }
    acceptor_.join();
    reap_workers(true);
    close_descriptor(listen_fd_);
    close_descriptor(wake_read_fd_);
    close_descriptor(wake_write_fd_);
    port_ = 0;
}

std::uint16_t LoopbackServer::port() const {
    return port_.load();
}

void LoopbackServer::accept_loop(int listen_fd, int wake_fd) {
    while (true) {
        pollfd fds[2] = {{listen_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        const int client = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            // Out of descriptors the listening socket stays readable; wait
            // a little rather than spin.
            if (errno != EINTR && errno != ECONNABORTED && errno != EAGAIN) {
                pollfd wake = {wake_fd, POLLIN, 0};
                poll(&wake, 1, 50);
            }
            continue;
        }
        // Bytes go on as they come (a head before a paced body, relayed
        // pieces); small ones must not wait for earlier ones' acknowledgement.
        const int one = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        reap_workers(false);
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard lock(workers_mutex_);
        try {
            workers_.emplace_back();
            workers_.back().done = done;
            workers_.back().thread = std::thread([this, client, wake_fd, done] {
                serve_(client, wake_fd);
                done->store(true);
            });
        } catch (...) {
            if (!workers_.empty() && !workers_.back().thread.joinable()) {
                workers_.pop_back();
            }
            close(client);
        }
    }
}

void LoopbackServer::reap_workers(bool all) {
    std::list<Worker> finished;
    {
        std::lock_guard lock(workers_mutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            const auto next = std::next(it);
            if (all || it->done->load()) {
                finished.splice(finished.end(), workers_, it);
            }
            it = next;
        }
    }
    for (Worker& worker : finished) {
        worker.thread.join();
    }
}

}  // namespace qinglan
