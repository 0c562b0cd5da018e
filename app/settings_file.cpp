#include "app/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "services/environment.h"
#include "services/url_parts.h"

namespace qinglan {
namespace {

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
    bool secret = false;
    for (const Setting& setting : settings_table()) {
        const Rule::Kind kind = setting.rule.kind;
        if (setting.section.empty() ||
            (kind != Rule::kSecret && kind != Rule::kProxy && kind != Rule::kServer)) {
            continue;
        }
        // The text about to be written, else the file's.
        const auto text = texts.find(std::string(setting.key));
        const std::string value =
            text != texts.end() ? text->second
                                : read_ini_value(ini, setting.section, setting.key).value_or("");
        UrlLogin login;
        secret = secret || (kind == Rule::kSecret ? !value.empty()
                                                  : split_url_login(value, &login, nullptr) &&
                                                        !login.password.empty());
    }
    struct stat info {};
    if (!secret || ::stat(ini.c_str(), &info) != 0 || (info.st_mode & 077) == 0) {
        return true;
    }
    return ::chmod(ini.c_str(), 0600) == 0;
}

// False when a host that must be set is given empty.
bool hosts_set(const SettingSource& source, std::string* error) {
    for (const Setting& setting : settings_table()) {
        if (setting.rule.kind != Rule::kHost) {
            continue;
        }
        const std::optional<GivenText> given = source(setting);
        if (given && given->text.empty()) {
            *error = "a marketplace host is empty";
            return false;
        }
    }
    return true;
}

}  // namespace

bool take_settings(const SettingSource& source, Options* options, std::string* error) {
    // Of several bad values the one reported is always the same: the hosts
    // are checked for being set before any for its form, and the numbers
    // against their floors once all of them have been read.
    std::vector<std::pair<const Setting*, std::string>> floored;  // and where each was given
    auto check_floors = [&] {
        for (const auto& [setting, where] : floored) {
            if (!check_floor(*setting, where, *options, error)) {
                return false;
            }
        }
        floored.clear();
        return true;
    };
    bool hosts_checked = false;
    for (const Setting& setting : settings_table()) {
        const Rule::Kind kind = setting.rule.kind;
        if (kind == Rule::kFlag) {
            continue;
        }
        if ((kind == Rule::kHost && !std::exchange(hosts_checked, true) &&
             !hosts_set(source, error)) ||
            (kind != Rule::kNumber && !check_floors())) {
            return false;
        }
        const std::optional<GivenText> given = source(setting);
        if (!take_setting(setting, given, options, error)) {
            return false;
        }
        if (given && !setting.rule.floor.empty()) {
            floored.emplace_back(&setting, given->where);
        }
    }
    return check_floors();
}

std::map<std::string, std::string> setting_texts(const Options& options) {
    std::map<std::string, std::string> texts;
    for (const Setting& setting : settings_table()) {
        if (!setting.section.empty()) {
            texts[std::string(setting.key)] = setting_value(setting, options);
        }
    }
    return texts;
}

bool apply_setting_texts(const std::map<std::string, std::string>& texts, Options* options,
                         std::string* error) {
    // What the texts leave out stays as it is, and is checked with them.
    const std::map<std::string, std::string> current = setting_texts(*options);
    const SettingSource source = [&](const Setting& setting) -> std::optional<GivenText> {
        if (setting.section.empty()) {
            return std::nullopt;
        }
        const std::string key(setting.key);
        const auto text = texts.find(key);
        return GivenText{text != texts.end() ? text->second : current.at(key), key};
    };
    Options changed = *options;
    if (!take_settings(source, &changed, error)) {
        return false;
    }
    *options = std::move(changed);
    return true;
}

void read_file_only_settings(Options* options) {
    const std::string ini = settings_path(*options);
    for (const Setting& setting : settings_table()) {
        if (!setting.section.empty() && setting.option.empty()) {
            const GivenText given{read_ini_value(ini, setting.section, setting.key).value_or(""),
                                  std::string(setting.key)};
            std::string unused;
            take_setting(setting, given, options, &unused);
        }
    }
}

bool write_setting_texts(const std::string& ini, const std::map<std::string, std::string>& texts,
                         std::string* error) {
    // The user's settings folder of an installed program may not exist yet.
    std::error_code folder_error;
    std::filesystem::create_directories(std::filesystem::path(ini).parent_path(), folder_error);
    if (!protect_settings_file(ini, texts)) {
        *error = "cannot make " + ini + " readable by its owner only";
        return false;
    }
    // The settings with an option first, then those only the file holds:
    // new keys go in the order that files written before have.
    for (const bool file_only : {false, true}) {
        for (const Setting& setting : settings_table()) {
            if (setting.section.empty() || setting.option.empty() != file_only) {
                continue;
            }
            const auto text = texts.find(std::string(setting.key));
            if (text != texts.end() &&
                !write_ini_value(ini, setting.section, setting.key, text->second)) {
                *error = "cannot write " + ini;
                return false;
            }
        }
    }
    return true;
}

}  // namespace qinglan
