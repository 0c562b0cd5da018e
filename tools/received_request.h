#pragma once

// One HTTP request as the sample marketplace received it: the request line,
// the header lines in arrival order and the resource it was routed to. Tests
// read these from the marketplace's request log to see what a client sent.

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qinglan {

struct ReceivedRequest {
    std::string method;
    std::string target;   // as sent: path and query, or an absolute URL
    std::string version;  // "HTTP/1.0", "HTTP/1.1"
    std::string host;     // the Host header (or the host of an absolute target)
    std::vector<std::pair<std::string, std::string>> headers;  // names as sent
    std::string resource_key;  // empty when the request was refused or could not be routed
    std::chrono::steady_clock::time_point received_at{};  // when its head was complete

    // The value of the first header called `name` (ASCII case ignored), or
    // the empty text.
    std::string header(std::string_view name) const;
    // How many header lines are called `name` (ASCII case ignored).
    int header_count(std::string_view name) const;
};

// Parses a request head: the request line and the header lines, each ended
// by CRLF or a bare LF, without the blank line that closes the head. On a
// malformed head returns false with the fields read up to the fault.
bool parse_request_head(std::string_view head, ReceivedRequest& request);

}  // namespace qinglan
