#pragma once

// The cookies of browsers' cookies files (the Netscape format that browsers
// and their extensions export), kept by the program rather than by the HTTP
// library: libcurl's store compares each cookie it adds with every cookie of
// its domain, so a file of a few MB of one site's cookies took minutes. Here
// adding is linear, and each request gets one Cookie header built from the
// cookies that match its host, path and scheme and have not expired.
//
// The cookies servers set stay with libcurl, for the whole run; libcurl
// puts both kinds in one header. The file's cookies are worked out for one
// address, so with them the transfer loop follows redirects itself, each
// address with its own cookies.
//
// Safe to use from many threads at once.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qinglan {

struct Cookie {
    std::string domain;       // lower case, without a leading dot
    bool subdomains = false;  // also sent to the domain's subdomains
    std::string path = "/";
    bool secure = false;       // only sent over https (or to this machine)
    std::int64_t expires = 0;  // seconds since 1970; 0: a cookie of the session
    std::string name;
    std::string value;
};

// The most a cookies file may hold: a browser's export is a few thousand
// cookies and well under a MiB.
constexpr std::size_t kMaxCookiesFileBytes = std::size_t{64} << 20;
constexpr std::size_t kMaxCookies = 100000;

// The cookies of a cookies file's text, in the file's order. A byte-order
// mark may start it; blank lines and comments are skipped ("#HttpOnly_"
// marks a cookie, not a comment). False with "line N: why" in `error` for
// the first line that is not a cookie, or as soon as there are more than
// kMaxCookies cookies.
bool parse_cookies(std::string_view text, std::vector<Cookie>* cookies, std::string* error);

class CookieJar {
public:
    // Adds `cookies`, each replacing a kept one of the same domain, path and
    // name.
    void add(std::vector<Cookie> cookies);

    // The value of the Cookie header for a request of `url` at `now`
    // (seconds since 1970): the matching cookies, longer paths first, then
    // in the order they came. Empty when none matches.
    std::string header_for(std::string_view url, std::int64_t now) const;

    // A server set a cookie `name` in its answer to `url`: the kept cookies
    // of that name that a request of `url` would carry are stale and are
    // sent no more, as a server's cookie replaces a file's in libcurl's
    // store. A later add of the same cookie brings it back.
    void forget(std::string_view url, std::string_view name);

    std::size_t size() const;

private:
    // Calls `visit` with the index of every kept cookie of `host` or of a
    // domain it lies in that reaches it.
    template <typename Visit>
    void for_host(std::string_view host, Visit visit) const;

    mutable std::mutex mutex_;
    std::vector<Cookie> cookies_;
    std::vector<bool> gone_;  // by index: forgotten
    std::unordered_map<std::string, std::vector<std::size_t>> by_domain_;
    std::unordered_map<std::string, std::size_t> by_key_;  // domain, path and name
};

}  // namespace qinglan
