#pragma once

// One socket of the sample marketplace or the test proxy (a client it
// accepted, or the proxy's own connection onward), owned and closed by this
// object. Every wait also watches the server's wake descriptor, which
// becomes readable for good when the server stops, so no wait outlasts
// stop(): reads, writes to a peer that does not read, pauses, held
// connections and relays all end then. Sends never raise SIGPIPE.

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

    // Reads exactly `size` bytes; false when the peer left first or the
    // server is stopping.
    bool read_exactly(char* data, std::size_t size);

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

    // Passes bytes both ways between this socket and `other` until both
    // have closed their sending sides, an error ends one, or the server
    // stops. An end of data from one side is passed on as the end of the
    // other's sending side, so a peer reading to the end sees it.
    void relay(Connection& other);

private:
    enum class Wait { kReady, kTimedOut, kStopping, kFailed };
    Wait wait_for(short events, int timeout_ms);

    int fd_;
    int wake_fd_;
};

}  // namespace qinglan
