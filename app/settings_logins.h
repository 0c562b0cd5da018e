#pragma once

// The logins of qinglan.ini (the proxy's and the server's user name and
// password), which only the file holds: an option would show them in the
// process list. And the file's own protection, since it may hold them.

#include <map>
#include <span>
#include <string>

#include "app/options.h"

namespace qinglan {

// proxy_user, proxy_password, user and password, each in its section.
std::span<const FileSetting> login_settings();

// Takes the logins from <data dir>/qinglan.ini into `options`, as the file
// has them now.
void read_login_settings(Options* options);

// Takes the logins that `texts` holds by key into `options`; any text will do.
void apply_login_texts(const std::map<std::string, std::string>& texts, Options* options);

// Before setting texts are written into `ini`: creates the file readable by
// its owner only when it is missing, and makes it so when it will hold a
// password (the texts' or the file's, a URL's included). False when the
// permissions cannot be set.
bool protect_settings_file(const std::string& ini, const std::map<std::string, std::string>& texts);

}  // namespace qinglan
