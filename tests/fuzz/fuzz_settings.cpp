// The settings' parsers: a key of an ini file's text, a server's or a
// proxy's URL split from its login and masked for messages, and a host
// setting. Layout: the lengths of the section and the key (one byte each),
// the section, the key, then the text, which serves as the ini file, the
// URL and the host at once.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "services/environment.h"
#include "services/url_parts.h"

namespace {

using qinglan::fuzz::check;
using qinglan::fuzz::contains;

void check_ini(std::string_view text, std::string_view section, std::string_view key) {
    const std::optional<std::string> value = qinglan::read_ini_text(text, section, key);
    if (!value) {
        return;
    }
    // A value is one line's rest, without the blanks around it.
    check(contains(text, *value));
    check(value->find('\n') == std::string::npos);
    check(value->empty() || (value->front() != ' ' && value->front() != '\t' &&
                             value->back() != ' ' && value->back() != '\t'));
}

void check_url(std::string_view url) {
    const std::string masked = qinglan::mask_user_info(url);
    check(qinglan::mask_user_info(masked) == masked);
    qinglan::UrlLogin login;
    if (!qinglan::split_url_login(url, &login, nullptr)) {
        return;
    }
    // What libpq or libcurl is given holds no "@" of a login, and the
    // password is out of sight in what a message shows.
    const std::size_t slashes = url.find("//");
    const std::size_t at = url.rfind('@');
    if (slashes == std::string_view::npos || at == std::string_view::npos || at < slashes + 2) {
        check(login.address == url && login.user.empty() && login.password.empty());
        return;
    }
    check(login.address.size() == url.size() - (at - slashes - 2) - 1);
    check(login.address.find('@', slashes) == std::string::npos);
    const std::string_view info = url.substr(slashes + 2, at - slashes - 2);
    const std::size_t colon = info.find(':');
    if (colon == std::string_view::npos || url.find("password=") != std::string_view::npos ||
        url.substr(0, slashes).find('@') != std::string_view::npos) {
        return;
    }
    const std::string raw = ":" + std::string(info.substr(colon + 1)) + "@";
    check(raw == ":***@" || !contains(masked, raw));
}

void check_host(std::string_view host) {
    if (!qinglan::host_setting_valid(host)) {
        return;
    }
    // Nothing in a valid host can change a request's structure.
    std::string_view rest = host;
    for (const std::string_view scheme : {"https://", "http://"}) {
        if (rest.substr(0, scheme.size()) == scheme) {
            rest.remove_prefix(scheme.size());
            break;
        }
    }
    check(!rest.empty());
    check(rest.find_first_of("/?#@ \t\r\n\\%") == std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qinglan::fuzz::FuzzInput input(data, size);
    const std::size_t section_size = input.byte();
    const std::size_t key_size = input.byte();
    const std::string_view section = input.take(section_size);
    const std::string_view key = input.take(key_size);
    const std::string_view text = input.rest();
    check_ini(text, section, key);
    check_url(text);
    check_host(text);
    return 0;
}
