#include "services/cookie_jar.h"

#include <algorithm>
#include <array>
#include <utility>

#include "services/text.h"

namespace qinglan {
namespace {

// libcurl's own limits on the cookies of one request, kept so that a
// request with the file's cookies looks like one with a server's: at most
// 150 cookies, and a header a server will take.
constexpr std::size_t kMostCookiesSent = 150;
constexpr std::size_t kMostHeaderBytes = 8190;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kHttpOnly = "#HttpOnly_";

bool is_control(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// True when `text` holds none of `refused` and no control character: those
// would change the header the cookie goes into, or the request itself.
bool clean(std::string_view text, std::string_view refused) {
    return std::none_of(text.begin(), text.end(), [refused](char c) {
        return is_control(c) || refused.find(c) != std::string_view::npos;
    });
}

bool parse_flag(std::string_view text, bool* flag) {
    const std::string word = lower_ascii(text);
    *flag = word == "true";
    return word == "true" || word == "false";
}

// Seconds since 1970: digits only, as browsers write them.
bool parse_expiry(std::string_view text, std::int64_t* expires) {
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    *expires = 0;
    for (const char c : text) {
        *expires = *expires * 10 + (c - '0');
    }
    return true;
}

// An address is only ever its own domain: "0.0.1" is no parent of "127.0.0.1".
bool is_address(std::string_view host) {
    return (!host.empty() && host[0] == '[') || std::all_of(host.begin(), host.end(), [](char c) {
               return c == '.' || (c >= '0' && c <= '9');
           });
}

// One line of seven fields separated by tabs: domain, include subdomains,
// path, secure, expiry, name, value. False with why it is no cookie.
bool parse_line(std::string_view line, Cookie* cookie, std::string* why) {
    std::array<std::string_view, 7> fields;
    std::size_t count = 0;
    for (std::size_t start = 0;; ++count) {
        const auto tab = line.find('\t', start);
        if (count < fields.size()) {
            fields[count] = line.substr(start, tab - start);
        }
        if (tab == std::string_view::npos) {
            break;
        }
        start = tab + 1;
    }
    if (count + 1 != fields.size()) {
        *why = "not a cookie of the Netscape format (seven fields separated by tabs)";
        return false;
    }
    std::string_view domain = fields[0];
    if (domain.substr(0, kHttpOnly.size()) == kHttpOnly) {
        domain.remove_prefix(kHttpOnly.size());
    }
    cookie->subdomains = !domain.empty() && domain[0] == '.';
    domain.remove_prefix(cookie->subdomains ? 1 : 0);
    bool subdomains = false;
    if (domain.empty() || domain[0] == '.' || domain.find("..") != std::string_view::npos ||
        !clean(domain, " /;,")) {
        *why = "the domain is empty or not a host name";
    } else if (!parse_flag(fields[1], &subdomains) || !parse_flag(fields[3], &cookie->secure)) {
        *why = "the second and the fourth field must be TRUE or FALSE";
    } else if (!(fields[2].empty() || fields[2][0] == '/') || !clean(fields[2], ";")) {
        *why = "the path must begin with /";
    } else if (!parse_expiry(fields[4], &cookie->expires)) {
        *why = "the expiry must be a number of seconds since 1970";
    } else if (!clean(fields[5], ";=") || !clean(fields[6], ";")) {
        *why = "the name or the value holds a control character, \";\" or (in the name) \"=\"";
    } else {
        cookie->domain = lower_ascii(domain);
        cookie->subdomains = (cookie->subdomains || subdomains) && !is_address(cookie->domain);
        cookie->path = fields[2].empty() ? "/" : std::string(fields[2]);
        cookie->name = fields[5];
        cookie->value = fields[6];
        return true;
    }
    return false;
}

// What a cookie is matched with: the request's host, path and scheme.
struct Target {
    std::string host;
    std::string_view path;
    bool secure = false;
};

Target target_of(std::string_view url) {
    Target target;
    const auto scheme_end = url.find("://");
    const std::string_view scheme =
        scheme_end == std::string_view::npos ? std::string_view{} : url.substr(0, scheme_end);
    url.remove_prefix(scheme_end == std::string_view::npos ? 0 : scheme_end + 3);
    const auto authority_end = std::min(url.find_first_of("/?#"), url.size());
    std::string_view authority = url.substr(0, authority_end);
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    const auto port = authority.rfind(':');
    if (port != std::string_view::npos && authority.find(']', port) == std::string_view::npos) {
        authority = authority.substr(0, port);
    }
    target.host = lower_ascii(authority);
    const std::string_view rest = url.substr(authority_end);
    target.path = rest.substr(0, rest.find_first_of("?#"));
    if (target.path.empty() || target.path[0] != '/') {
        target.path = "/";
    }
    // As libcurl has it: this machine is as safe as https.
    target.secure = lower_ascii(scheme) == "https" || target.host == "localhost" ||
                    target.host == "127.0.0.1" || target.host == "[::1]";
    return target;
}

bool path_matches(std::string_view cookie_path, std::string_view path) {
    if (path.substr(0, cookie_path.size()) != cookie_path) {
        return false;
    }
    return path.size() == cookie_path.size() || cookie_path.back() == '/' ||
           path[cookie_path.size()] == '/';
}

}  // namespace

bool parse_cookies(std::string_view text, std::vector<Cookie>* cookies, std::string* error) {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    std::vector<Cookie> parsed;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || (line[0] == '#' && line.substr(0, kHttpOnly.size()) != kHttpOnly)) {
            continue;
        }
        if (parsed.size() == kMaxCookies) {
            *error = "line " + std::to_string(number) + ": more than " +
                     std::to_string(kMaxCookies) + " cookies, the most a cookies file may hold";
            return false;
        }
        std::string why;
        if (!parse_line(line, &parsed.emplace_back(), &why)) {
            *error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    *cookies = std::move(parsed);
    return true;
}

void CookieJar::add(std::vector<Cookie> cookies) {
    std::lock_guard lock(mutex_);
    for (Cookie& cookie : cookies) {
        std::string key = cookie.domain + '\t' + cookie.path + '\t' + cookie.name;
        const auto [found, added] = by_key_.try_emplace(std::move(key), cookies_.size());
        if (!added) {
            cookies_[found->second] = std::move(cookie);
            gone_[found->second] = false;
            continue;
        }
        by_domain_[cookie.domain].push_back(cookies_.size());
        cookies_.push_back(std::move(cookie));
        gone_.push_back(false);
    }
}

template <typename Visit>
void CookieJar::for_host(std::string_view host, Visit visit) const {
    // The host itself, then each domain it lies in.
    for (std::size_t at = 0; at != std::string::npos;) {
        if (const auto found = by_domain_.find(std::string(host.substr(at)));
            found != by_domain_.end()) {
            for (const std::size_t i : found->second) {
                if (!gone_[i] && (at == 0 || cookies_[i].subdomains)) {
                    visit(i);
                }
            }
        }
        const auto dot = is_address(host) ? std::string_view::npos : host.find('.', at);
        at = dot == std::string_view::npos ? dot : dot + 1;
    }
}

void CookieJar::forget(std::string_view url, std::string_view name) {
    const Target target = target_of(url);
    std::lock_guard lock(mutex_);
    for_host(target.host, [this, name](std::size_t i) {
        if (cookies_[i].name == name) {
            gone_[i] = true;
        }
    });
}

std::string CookieJar::header_for(std::string_view url, std::int64_t now) const {
    const Target target = target_of(url);
    std::lock_guard lock(mutex_);
    if (cookies_.empty()) {
        return {};
    }
    std::vector<std::size_t> matching;
    for_host(target.host, [&](std::size_t i) {
        const Cookie& cookie = cookies_[i];
        if ((!cookie.secure || target.secure) && (cookie.expires == 0 || cookie.expires > now) &&
            path_matches(cookie.path, target.path)) {
            matching.push_back(i);
        }
    });
    std::stable_sort(matching.begin(), matching.end(), [this](std::size_t a, std::size_t b) {
        return cookies_[a].path.size() > cookies_[b].path.size() ||
               (cookies_[a].path.size() == cookies_[b].path.size() && a < b);
    });
    std::string header;
    std::size_t sent = 0;
    for (const std::size_t i : matching) {
        const Cookie& cookie = cookies_[i];
        const std::size_t length = cookie.name.size() + 1 + cookie.value.size() + 2;
        if (sent == kMostCookiesSent || header.size() + length > kMostHeaderBytes) {
            break;
        }
        header += (sent++ == 0 ? "" : "; ") + cookie.name;
        if (!cookie.name.empty()) {
            header += '=';
        }
        header += cookie.value;
    }
    return header;
}

std::size_t CookieJar::size() const {
    std::lock_guard lock(mutex_);
    return cookies_.size();
}

}  // namespace qinglan
