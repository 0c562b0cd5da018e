#include "services/url_parts.h"

#include "services/failure.h"

namespace qinglan {
namespace {

constexpr std::string_view kHidden = "***";

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hex_value(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

bool escapes_valid(std::string_view text) {
    for (std::size_t at = text.find('%'); at != std::string_view::npos;
         at = text.find('%', at + 1)) {
        if (at + 2 >= text.size() || !is_hex(text[at + 1]) || !is_hex(text[at + 2])) {
            return false;
        }
    }
    return true;
}

// Only called on text whose escapes are valid.
std::string percent_decoded(std::string_view text) {
    std::string decoded;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 2 < text.size()) {
            decoded += static_cast<char>(hex_value(text[at + 1]) * 16 + hex_value(text[at + 2]));
            at += 2;
        } else {
            decoded += text[at];
        }
    }
    return decoded;
}

// Where the user-info lies in `text`: from the first "//" to the last "@";
// false when there is none.
bool find_user_info(std::string_view text, std::size_t* start, std::size_t* end) {
    const std::size_t slashes = text.find("//");
    const std::size_t at = text.rfind('@');
    if (slashes == std::string_view::npos || at == std::string_view::npos || at < slashes + 2) {
        return false;
    }
    *start = slashes + 2;
    *end = at;
    return true;
}

// The value of every "password=" up to the next "&", blank or quote.
void mask_password_parameters(std::string* text) {
    static constexpr std::string_view kKey = "password=";
    for (std::size_t at = text->find(kKey); at != std::string::npos;
         at = text->find(kKey, at + 1)) {
        const std::size_t value = at + kKey.size();
        std::size_t end = text->find_first_of("& \t\r\n\"'", value);
        if (end == std::string::npos) {
            end = text->size();
        }
        if (end > value) {
            text->replace(value, end - value, kHidden);
        }
    }
}

bool port_valid(std::string_view port) {
    if (port.empty() || port.size() > 5) {
        return false;
    }
    long value = 0;
    for (const char c : port) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return value <= 65535;
}

bool host_name_valid(std::string_view host) {
    if (host.empty()) {
        return false;
    }
    for (const char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
                             byte >= 0x80;
        if (!allowed) {
            return false;
        }
    }
    return true;
}

bool ipv6_valid(std::string_view address) {
    if (address.empty()) {
        return false;
    }
    for (const char c : address) {
        if (!is_hex(c) && c != ':' && c != '.') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string mask_user_info(std::string_view text) {
    std::string masked(text);
    std::size_t start = 0;
    std::size_t end = 0;
    if (find_user_info(masked, &start, &end)) {
        const std::string_view info = std::string_view(masked).substr(start, end - start);
        const std::size_t colon = info.find(':');
        const std::string_view user = info.substr(0, colon);
        const bool plain = user.find_first_of("/?#") == std::string_view::npos;
        if (colon == std::string_view::npos && plain) {
            // A user name alone: nothing secret in it.
        } else if (colon != std::string_view::npos && plain) {
            masked.replace(start + colon + 1, end - start - colon - 1, kHidden);
        } else {
            masked.replace(start, end - start, kHidden);
        }
    }
    mask_password_parameters(&masked);
    return masked;
}

bool split_url_login(std::string_view url, UrlLogin* login, std::string* error) {
    *login = UrlLogin();
    if (!escapes_valid(url)) {
        return fail(error,
                    "a \"%\" in the URL is not followed by two hexadecimal digits "
                    "(write a \"%\" as %25)");
    }
    std::size_t start = 0;
    std::size_t end = 0;
    if (!find_user_info(url, &start, &end)) {
        login->address = std::string(url);
        return true;
    }
    const std::string_view info = url.substr(start, end - start);
    if (info.find_first_of("/?#") != std::string_view::npos) {
        return fail(error,
                    "the URL's password or user name holds \"/\", \"?\" or \"#\" "
                    "(write them as %2F, %3F and %23), or \"@\" stands after the host");
    }
    const std::size_t colon = info.find(':');
    login->user = percent_decoded(info.substr(0, colon));
    if (colon != std::string_view::npos) {
        login->password = percent_decoded(info.substr(colon + 1));
    }
    login->address = std::string(url.substr(0, start)) + std::string(url.substr(end + 1));
    return true;
}

bool host_setting_valid(std::string_view text) {
    for (const std::string_view scheme : {"https://", "http://"}) {
        if (text.substr(0, scheme.size()) == scheme) {
            text.remove_prefix(scheme.size());
            break;
        }
    }
    std::string_view port;
    bool has_port = false;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || !ipv6_valid(text.substr(1, close - 1))) {
            return false;
        }
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                return false;
            }
            has_port = true;
            port = rest.substr(1);
        }
    } else {
        const std::size_t colon = text.find(':');
        if (!host_name_valid(text.substr(0, colon))) {
            return false;
        }
        if (colon != std::string_view::npos) {
            has_port = true;
            port = text.substr(colon + 1);
        }
    }
    return !has_port || port_valid(port);
}

}  // namespace qinglan
