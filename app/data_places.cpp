#include "app/data_places.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace qinglan {
namespace {

std::string environment_value(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string account_home() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

// An XDG base directory: the variable when it holds an absolute path (a
// relative one is to be ignored), else its default under the home folder.
std::string base_directory(const std::string& variable, const std::string& home,
                           const char* fallback) {
    if (!variable.empty() && variable.front() == '/') {
        return variable;
    }
    return home + fallback;
}

}  // namespace

UserFolders user_folders() {
    UserFolders user;
    user.home = environment_value("HOME");
    if (user.home.empty()) {
        user.home = account_home();
    }
    user.data_home = environment_value("XDG_DATA_HOME");
    user.config_home = environment_value("XDG_CONFIG_HOME");
    return user;
}

std::string installed_shared_folder(const std::string& run_dir) {
    const std::filesystem::path shared =
        std::filesystem::path(run_dir).parent_path() / "share" / "qinglan";
    std::error_code error;
    return std::filesystem::is_directory(shared, error) ? shared.lexically_normal().string()
                                                        : std::string();
}

DataPlaces data_places(const std::string& run_dir, const std::optional<std::string>& given_data_dir,
                       const UserFolders& user) {
    DataPlaces places;
    places.shared_dir = installed_shared_folder(run_dir);
    if (given_data_dir) {
        places.data_dir = *given_data_dir;
    } else if (places.shared_dir.empty()) {
        places.data_dir = run_dir;
    } else {
        places.data_dir = base_directory(user.data_home, user.home, "/.local/share") + "/qinglan";
        places.settings_file =
            base_directory(user.config_home, user.home, "/.config") + "/qinglan/qinglan.ini";
        return places;
    }
    places.settings_file = places.data_dir + "/qinglan.ini";
    return places;
}

std::string find_site_profile(const std::string& file, const std::string& shared_dir) {
    std::error_code error;
    if (shared_dir.empty() || file.empty() || file.front() == '/' ||
        std::filesystem::exists(file, error)) {
        return file;
    }
    const std::filesystem::path shared(shared_dir);
    const std::filesystem::path name = std::filesystem::path(file).filename();
    for (const std::filesystem::path& candidate : {shared / file, shared / "sites" / name}) {
        if (std::filesystem::is_regular_file(candidate, error)) {
            return candidate.string();
        }
    }
    return file;
}

}  // namespace qinglan
