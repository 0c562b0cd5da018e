#include "tools/proxy_request.h"

#include "services/text.h"

namespace qinglan {
namespace {

// The bytes of standard base64 with padding; nothing for anything else.
std::optional<std::string> decode_base64(std::string_view text) {
    constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    while (!text.empty() && text.back() == '=') {
        text.remove_suffix(1);
    }
    std::string bytes;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        const auto value = kAlphabet.find(c);
        if (value == std::string_view::npos) {
            return std::nullopt;
        }
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return bytes;
}

}  // namespace

std::optional<std::pair<std::string, std::string>> basic_login(std::string_view value) {
    if (!starts_ignoring_case(value, "basic ")) {
        return std::nullopt;
    }
    const std::optional<std::string> pair = decode_base64(value.substr(6));
    const auto colon = pair ? pair->find(':') : std::string::npos;
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    return std::pair(pair->substr(0, colon), pair->substr(colon + 1));
}

std::optional<AbsoluteUrl> parse_authority(std::string_view authority) {
    AbsoluteUrl url;
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        url.host = authority.substr(1, close - 1);
        port = authority.substr(close + 1);
    } else {
        const auto colon = authority.find(':');
        url.host = authority.substr(0, colon);
        port = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
    }
    if (!port.empty()) {
        if (port.front() != ':' || port.size() < 2 || port.size() > 6) {
            return std::nullopt;
        }
        long number = 0;
        for (char c : port.substr(1)) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            number = number * 10 + (c - '0');
        }
        if (number < 1 || number > 65535) {
            return std::nullopt;
        }
        url.port = static_cast<std::uint16_t>(number);
    }
    if (url.host.empty()) {
        return std::nullopt;
    }
    return url;
}

std::optional<AbsoluteUrl> parse_http_url(std::string_view target) {
    if (!starts_ignoring_case(target, "http://")) {
        return std::nullopt;
    }
    target.remove_prefix(7);
    const auto path = target.find_first_of("/?");
    std::optional<AbsoluteUrl> url = parse_authority(target.substr(0, path));
    if (url && path != std::string_view::npos) {
        url->path_and_query = target[path] == '/' ? std::string(target.substr(path))
                                                  : "/" + std::string(target.substr(path));
    }
    return url;
}

bool is_proxy_header(std::string_view name) {
    return starts_ignoring_case(name, "proxy-");
}

}  // namespace qinglan
