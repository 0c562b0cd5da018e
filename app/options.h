#pragma once

// The command line: qinglan [COMMAND] [OPTIONS] [ARGUMENTS...], with the
// hosts and the network settings also read from <data dir>/qinglan.ini
// (options win over the file).

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/request.h"
#include "services/fetch.h"

namespace qinglan {

struct Options {
    std::string command;  // empty (the windows), "collect", "export", "tables", "forget" or "copy"
    std::string data_dir;
    std::string database_url;       // a PostgreSQL server's URL; empty: the file in the data dir
    std::string database_user;      // [database] user: for a URL without one of its own
    std::string database_password;  // [database] password: likewise; never printed
    std::string copy_from;          // copy: a data dir or a URL
    std::string copy_to;
    MarketHosts hosts;
    std::string update_host;  // empty: no notice and no update check
    FetchSettings fetch;
    int parallel = 8;     // members of a task in flight at once
    std::string cookies;  // a cookies file to load at start; empty: none
    bool again = false;   // collect: start the keywords over
    bool merge = false;   // export: one table, one row per member account
    bool demo = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> arguments;
};

extern const char* const kUsage;

// Where the store is: the server's URL when one is set, else the data dir.
inline const std::string& store_place(const Options& options) {
    return options.database_url.empty() ? options.data_dir : options.database_url;
}

// False with a message in `error` for bad usage, a bad setting in the ini
// file, a keyword that is not UTF-8, or a keyword to collect that GBK
// cannot encode.
bool parse_options(int argc, char** argv, Options* options, std::string* error);

// One setting of qinglan.ini: its section and key, and the option that
// overrides it.
struct FileSetting {
    std::string_view section;
    std::string_view key;
    std::string_view option;
};

// Every setting qinglan.ini may hold but the logins, in the usage's order.
std::span<const FileSetting> file_settings();

// The lowest and highest value of a numeric setting ("parallel": 1 and 64);
// nullopt for a setting that is not a number.
std::optional<std::pair<long, long>> setting_range(std::string_view key);

// The settings as `options` has them, as texts by key: what qinglan.ini
// would hold for them.
std::map<std::string, std::string> setting_texts(const Options& options);

// Takes setting texts by key into `options`, each checked as parse_options
// checks it; a key left out keeps its value. False with the reason, naming
// the key ("parallel takes a number of members from 1 to 64"), and
// `options` unchanged.
bool apply_setting_texts(const std::map<std::string, std::string>& texts, Options* options,
                         std::string* error);

// Writes setting texts by key into <data dir>/qinglan.ini, each in its
// section; other lines of the file stay. The file is made readable by its
// owner only when it is created, and whenever it holds a password. False
// with the reason.
bool write_setting_texts(const std::string& data_dir,
                         const std::map<std::string, std::string>& texts, std::string* error);

// Makes the options' network settings those of every later fetch and loads
// the cookies file; false with the reason when the file cannot be used.
bool apply_network_settings(const Options& options, std::string* error);

}  // namespace qinglan
