#pragma once

// What the test proxy reads of an HTTP request sent to it as a proxy: the
// absolute URL or the host and port of its target, the login of its Proxy-Authorization header,
// and which of its header lines are meant for the proxy alone.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace qinglan {

struct AbsoluteUrl {
    std::string host;  // without the brackets of an IPv6 address
    std::uint16_t port = 80;
    std::string path_and_query = "/";  // the origin-form target
};

// An "http://HOST[:PORT][/PATH][?QUERY]" target; nothing for any other
// scheme, an empty host or a port outside 1 to 65535.
std::optional<AbsoluteUrl> parse_http_url(std::string_view target);

// The "HOST[:PORT]" of a CONNECT request (or of a URL), HOST an IPv6
// address in brackets or anything else; the port is 80 when none is given.
std::optional<AbsoluteUrl> parse_authority(std::string_view authority);

// The user and password of a "Basic" credential; nothing for another
// scheme or a value that is not base64 of "user:password".
std::optional<std::pair<std::string, std::string>> basic_login(std::string_view value);

// Proxy-Authorization, Proxy-Connection and the like, in any letter case.
bool is_proxy_header(std::string_view name);

}  // namespace qinglan
