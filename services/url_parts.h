#pragma once

// The addresses that settings give the program: a server's or a proxy's URL,
// which may carry a login, and a host setting. A text that may hold a
// password goes through mask_user_info before any message or log line shows
// it, and through split_url_login before any other parser (libpq's, libcurl's)
// sees it, so that neither can quote the password back in its own words.

#include <string>
#include <string_view>

namespace qinglan {

// `text` with the user-info of an address in it hidden. Everything between
// the first "//" and the last "@" of the whole text counts as user-info,
// whether or not the rest is a valid address, so an unescaped "@" or "/" in
// a password, or an address no parser accepts, hides the password too. The
// user name stays when it can be told apart ("USER:***@"); otherwise the
// whole user-info becomes "***". The value of every "password=" is hidden as
// well (a libpq parameter in the query).
std::string mask_user_info(std::string_view text);

// A URL's login and the URL without it.
struct UrlLogin {
    std::string user;      // percent-decoded; empty: none given
    std::string password;  // percent-decoded; empty: none given
    std::string address;   // the URL without its user-info and "@"
};

// Splits the user-info (between the first "//" and the last "@") off `url`,
// the user before its first ":", the password after it. False with a
// reason that never repeats the URL when the URL is bad: user-info that
// holds "/", "?" or "#" (a password must carry them percent-encoded), or a
// "%" anywhere not followed by two hexadecimal digits.
bool split_url_login(std::string_view url, UrlLogin* login, std::string* error);

// True when `text` is HOST[:PORT] and nothing else, optionally after
// "http://" or "https://": a host name (letters, digits, "-", "_", ".", or
// UTF-8 beyond ASCII) or an IPv6 address in brackets, and a port number up
// to 65535. A path, a query, user-info, a blank or an empty host are
// refused.
bool host_setting_valid(std::string_view text);

}  // namespace qinglan
