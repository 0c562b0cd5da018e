#pragma once

// The status line and header block of the sample marketplace's answers.
// Every answer closes its connection, so every head says so.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qinglan {

// "OK", "Not Found", …; "Status" for a code without a phrase of its own.
std::string_view reason_phrase(int status);

// The head through its blank line. A 1.0 client is answered in 1.0, every
// other one (a malformed request included) in 1.1. Without `length` the head
// has no Content-Length and the body ends with the connection. Each extra
// header is a whole line without its CR LF.
std::string response_head(std::string_view request_version, int status,
                          std::string_view content_type, std::optional<std::size_t> length,
                          const std::vector<std::string>& extra_headers);

}  // namespace qinglan
