#pragma once

// A listening socket on 127.0.0.1 with one thread accepting and one thread
// per accepted connection, for the sample marketplace and the test proxy,
// which need nothing more of a server than to serve each connection on its
// own.
//
// The serve function gets the connection's socket, which it owns and must
// close, and the server's wake descriptor, which becomes readable for good
// when the server stops: every wait of a connection watches it (see
// Connection), so stop() never waits for a client. Threads of connections
// that ended are joined as new ones arrive, all of them by stop().
//
// start() and stop() are safe to call from any thread; the serve function
// runs on the connections' threads, many at once.

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace qinglan {

class LoopbackServer {
public:
    using Serve = std::function<void(int fd, int wake_fd)>;

    explicit LoopbackServer(Serve serve);
    ~LoopbackServer();  // stops
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Binds 127.0.0.1:port (0 picks a free port) and starts accepting. False
    // when the port cannot be bound or the server already runs.
    bool start(std::uint16_t port = 0);
    // Closes every connection and joins every thread. The server can be
    // started again afterwards.
    void stop();

    std::uint16_t port() const;  // 0 while stopped

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void accept_loop(int listen_fd, int wake_fd);
    void reap_workers(bool all);

    const Serve serve_;

    std::mutex lifecycle_mutex_;  // serialises start() and stop()
    std::thread acceptor_;
    int listen_fd_ = -1;
    int wake_read_fd_ = -1;
    int wake_write_fd_ = -1;
    std::atomic<std::uint16_t> port_{0};

    std::mutex workers_mutex_;
    std::list<Worker> workers_;
};

}  // namespace qinglan
