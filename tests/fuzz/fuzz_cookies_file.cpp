// The cookies file's lines and the Cookie header built from them. Layout:
// the length of a request's address (one byte), the address, then the
// file's text. Whatever the file holds, a cookie that is taken can change
// neither the header nor the request it goes into, and a refused file
// names its line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "services/cookie_jar.h"

namespace {

using qinglan::fuzz::check;

bool has_control(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qinglan::fuzz::FuzzInput input(data, size);
    const std::string_view url = input.take(input.byte());
    const std::string_view text = input.rest();

    std::vector<qinglan::Cookie> cookies;
    std::string error;
    if (!qinglan::parse_cookies(text, &cookies, &error)) {
        check(error.rfind("line ", 0) == 0);
        check(cookies.empty());
        return 0;
    }
    check(cookies.size() <= qinglan::kMaxCookies);
    for (const qinglan::Cookie& cookie : cookies) {
        check(!cookie.domain.empty() && cookie.domain[0] != '.');
        check(!cookie.path.empty() && cookie.path[0] == '/');
        check(cookie.name.find_first_of(";=") == std::string::npos);
        check(cookie.value.find(';') == std::string::npos);
        check(!has_control(cookie.domain) && !has_control(cookie.path) &&
              !has_control(cookie.name) && !has_control(cookie.value));
    }
    qinglan::CookieJar jar;
    jar.add(cookies);
    check(jar.size() <= cookies.size());
    for (const std::int64_t now : {std::int64_t{0}, std::int64_t{1700000000}}) {
        const std::string header = jar.header_for(url, now);
        check(!has_control(header));
        check(header.size() <= 8190);
    }
    // A server's cookie of a name the file gave: the file's no longer goes.
    // (A nameless cookie is sent as its value alone, which may look like any
    // name's.)
    bool named = !cookies.empty();
    for (const qinglan::Cookie& cookie : cookies) {
        named = named && !cookie.name.empty();
    }
    if (named) {
        const std::string name = cookies.front().name;
        jar.forget(url, name);
        const std::string header = jar.header_for(url, 0);
        check(header.rfind(name + "=", 0) != 0 &&
              header.find("; " + name + "=") == std::string::npos);
    }
    return 0;
}
