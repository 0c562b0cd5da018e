#pragma once

// One accepted client socket of the sample marketplace, owned and closed by
// this object. Every wait also watches the server's wake descriptor, which
// becomes readable for good when the server stops, so no wait outlasts
// stop(): reads, writes to a client that does not read, pauses and held
// connections all end then. Sends never raise SIGPIPE.

#include <cstddef>
#include <string>
#include <string_view>

namespace qinglan {

class Connection {
public:
    enum class HeadResult {
        kComplete,  // the head up to (not including) its blank line is in `head`
        kClosed,    // the client left, or an error, before a whole head arrived
        kTooLarge,  // the head grew past max_bytes
        kStopping,  // the server is stopping
    };

    Connection(int fd, int wake_fd);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    HeadResult read_head(std::string& head, std::size_t max_bytes);

    // False when the client left or the server is stopping.
    bool send_all(std::string_view data);

    // Waits `ms` milliseconds; false when the server began stopping meanwhile.
    bool pause(int ms);

    // Keeps the connection open without sending until the client closes it
    // or the server stops.
    void hold();

    // Ends the response: closes our sending side and waits a little for the
    // client to close, so that closing never resets a connection whose last
    // bytes the client has yet to read.
    void finish();

private:
    enum class Wait { kReady, kTimedOut, kStopping, kFailed };
    Wait wait_for(short events, int timeout_ms);

    int fd_;
    int wake_fd_;
};

}  // namespace qinglan
