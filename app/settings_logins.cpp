#include "app/settings_logins.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

#include "services/environment.h"
#include "services/url_parts.h"

namespace qinglan {
namespace {

// The fields of `options` that hold the logins, in login_settings()' order.
std::array<std::string*, 4> login_fields(Options* options) {
    return {&options->fetch.proxy_user, &options->fetch.proxy_password, &options->database_user,
            &options->database_password};
}

}  // namespace

std::span<const FileSetting> login_settings() {
    static constexpr FileSetting kLogins[] = {{"network", "proxy_user", ""},
                                              {"network", "proxy_password", ""},
                                              {"database", "user", ""},
                                              {"database", "password", ""}};
    return kLogins;
}

void read_login_settings(Options* options) {
    const std::string ini = options->data_dir + "/qinglan.ini";
    const auto targets = login_fields(options);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const FileSetting& login = login_settings()[i];
        *targets[i] = read_ini_value(ini, login.section, login.key).value_or("");
    }
}

void apply_login_texts(const std::map<std::string, std::string>& texts, Options* options) {
    const auto targets = login_fields(options);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const auto text = texts.find(std::string(login_settings()[i].key));
        if (text != texts.end()) {
            *targets[i] = text->second;
        }
    }
}

// qinglan.ini may hold passwords: a new file is created readable by its
// owner only, and an old one is made so before a password goes into it (or
// when it holds one already), so that no password is ever readable by
// others, not even for a moment.
bool protect_settings_file(const std::string& ini,
                           const std::map<std::string, std::string>& texts) {
    const int created = ::open(ini.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (created >= 0) {
        ::close(created);
        return true;
    }
    // The text about to be written, else the file's.
    auto value = [&](const char* section, const char* key) {
        const auto text = texts.find(key);
        return text != texts.end() ? text->second : read_ini_value(ini, section, key).value_or("");
    };
    UrlLogin proxy_login;
    UrlLogin database_login;
    const bool secret = !value("network", "proxy_password").empty() ||
                        !value("database", "password").empty() ||
                        (split_url_login(value("network", "proxy"), &proxy_login, nullptr) &&
                         !proxy_login.password.empty()) ||
                        (split_url_login(value("database", "url"), &database_login, nullptr) &&
                         !database_login.password.empty());
    struct stat info {};
    if (!secret || ::stat(ini.c_str(), &info) != 0 || (info.st_mode & 077) == 0) {
        return true;
    }
    return ::chmod(ini.c_str(), 0600) == 0;
}

}  // namespace qinglan
