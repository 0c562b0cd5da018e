#include "tools/connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace qinglan {
namespace {

// Long enough for any client on loopback to read what is left and close,
// short enough that a client ignoring "Connection: close" holds nothing long.
constexpr int kFinishMs = 2000;

}  // namespace

Connection::Connection(int fd, int wake_fd) : fd_(fd), wake_fd_(wake_fd) {}

Connection::~Connection() {
    close(fd_);
}

Connection::Wait Connection::wait_for(short events, int timeout_ms) {
    pollfd fds[2] = {{fd_, events, 0}, {wake_fd_, POLLIN, 0}};
    while (true) {
        const int ready = poll(fds, 2, timeout_ms);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return Wait::kFailed;
        }
        if (fds[1].revents != 0) {
            return Wait::kStopping;
        }
        if (ready == 0) {
            return Wait::kTimedOut;
        }
        // A hang-up or error is reported as ready: the next read or send
        // then tells what happened.
        return Wait::kReady;
    }
}

Connection::HeadResult Connection::read_head(std::string& head, std::size_t max_bytes) {
    head.clear();
    char buffer[4096];
    std::size_t scanned = 0;
    while (true) {
        const Wait wait = wait_for(POLLIN, -1);
        if (wait == Wait::kStopping) {
            return HeadResult::kStopping;
        }
        if (wait != Wait::kReady) {
            return HeadResult::kClosed;
        }
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return HeadResult::kClosed;
        }
        head.append(buffer, static_cast<std::size_t>(got));
        // The head ends at the first empty line; clients may end lines with
        // a bare LF.
        for (std::size_t i = scanned > 0 ? scanned - 1 : 0; i < head.size(); ++i) {
            if (head[i] != '\n') {
                continue;
            }
            if (i + 1 < head.size() && head[i + 1] == '\n') {
                head.resize(i + 1);
                return HeadResult::kComplete;
            }
            if (i + 2 < head.size() && head[i + 1] == '\r' && head[i + 2] == '\n') {
                head.resize(i + 1);
                return HeadResult::kComplete;
            }
        }
        scanned = head.size() > 2 ? head.size() - 2 : 0;
        if (head.size() > max_bytes) {
            return HeadResult::kTooLarge;
        }
    }
}

bool Connection::read_exactly(char* data, std::size_t size) {
    while (size > 0) {
        if (wait_for(POLLIN, -1) != Wait::kReady) {
            return false;
        }
        const ssize_t got = recv(fd_, data, size, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool Connection::send_all(std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = send(fd_, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (wait_for(POLLOUT, -1) != Wait::kReady) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

bool Connection::pause(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        // Only the wake descriptor counts here; a client that leaves is
        // noticed by the next send.
        pollfd wake = {wake_fd_, POLLIN, 0};
        const int ready = poll(&wake, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return false;
        }
    }
}

void Connection::hold() {
    char buffer[1024];
    while (wait_for(POLLIN, -1) == Wait::kReady) {
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EINTR)) {
            return;
        }
    }
}

void Connection::finish() {
    shutdown(fd_, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFinishMs);
    char buffer[1024];
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || wait_for(POLLIN, static_cast<int>(left.count())) != Wait::kReady) {
            return;
        }
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EINTR)) {
            return;
        }
    }
}

void Connection::relay(Connection& other) {
    Connection* const sides[2] = {this, &other};
    bool sending[2] = {true, true};
    char buffer[16 * 1024];
    while (sending[0] || sending[1]) {
        // A side that has ended stays out of the poll: its hang-up would
        // otherwise wake the loop for ever while the other side still talks.
        pollfd fds[3] = {{sending[0] ? fd_ : -1, POLLIN, 0},
                         {sending[1] ? other.fd_ : -1, POLLIN, 0},
                         {wake_fd_, POLLIN, 0}};
        const int ready = poll(fds, 3, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || fds[2].revents != 0) {
            return;
        }
        for (int from = 0; from < 2; ++from) {
            if (!sending[from] || fds[from].revents == 0) {
                continue;
            }
            Connection& to = *sides[1 - from];
            const ssize_t got = recv(sides[from]->fd_, buffer, sizeof buffer, 0);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                return;
            }
            if (got == 0) {
                sending[from] = false;
                shutdown(to.fd_, SHUT_WR);
            } else if (!to.send_all(std::string_view(buffer, static_cast<std::size_t>(got)))) {
                return;
            }
        }
    }
}

}  // namespace qinglan
