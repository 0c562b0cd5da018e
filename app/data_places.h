#pragma once

// Where the program keeps the user's data and settings. Run from its build
// tree, or unpacked anywhere as a folder of its own, everything lives beside
// the program, as it always has. Installed, the program's folder belongs to
// the system and is not writable: its bin folder then has a sibling
// share/qinglan (the read-only files that come with it), and the data and
// the settings go to the user's folders as the XDG base directories name
// them, for every user alike, root included.

#include <optional>
#include <string>

namespace qinglan {

// The user's folders as the environment gives them.
struct UserFolders {
    std::string home;         // $HOME, else the account's home folder
    std::string data_home;    // $XDG_DATA_HOME as set, possibly empty
    std::string config_home;  // $XDG_CONFIG_HOME as set, possibly empty
};

// The current process's user folders.
UserFolders user_folders();

struct DataPlaces {
    std::string data_dir;       // holds date/lingshishuj.db
    std::string settings_file;  // qinglan.ini
    std::string shared_dir;     // <prefix>/share/qinglan when installed; empty otherwise
};

// <run dir>/../share/qinglan when that folder exists: the program is
// installed. Empty otherwise.
std::string installed_shared_folder(const std::string& run_dir);

// The places for a program in `run_dir`. `given_data_dir` (--data-dir)
// wins over both layouts: it then holds the database and qinglan.ini.
DataPlaces data_places(const std::string& run_dir, const std::optional<std::string>& given_data_dir,
                       const UserFolders& user);

// A site profile named on the command line or in qinglan.ini: as given
// when it exists, else, installed, the shipped one of that name under
// share/qinglan (`sites/sample_shop.ini` and `sample_shop.ini` alike).
std::string find_site_profile(const std::string& file, const std::string& shared_dir);

}  // namespace qinglan
