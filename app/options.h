#pragma once

// The command line: qinglan [COMMAND] [OPTIONS] [ARGUMENTS...], with the
// hosts and the network settings also read from <data dir>/qinglan.ini
// (options win over the file).

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "engine/request.h"
#include "engine/site/site.h"
#include "services/fetch.h"

namespace qinglan {

// What the program is asked to do, with every setting (each described once
// in the settings table, which also gives its default).
struct Options {
    Options();  // every setting at its default

    // empty (the windows), "collect", "export", "tables", "forget", "copy", "queue" or "work"
    std::string command;
    std::string data_dir;
    // qinglan.ini; empty: the one in data_dir. Installed, it lives apart,
    // in the user's settings folder.
    std::string settings_file;
    // <prefix>/share/qinglan of an installed program; empty: run from its
    // build tree or a folder of its own.
    std::string shared_dir;
    std::string database_url;       // a PostgreSQL server's URL; empty: the file in the data dir
    std::string database_user;      // [database] user: for a URL without one of its own
    std::string database_password;  // [database] password: likewise; never printed
    std::string copy_from;          // copy: a data dir or a URL
    std::string copy_to;
    MarketHosts hosts;
    std::string update_host;  // empty: no notice and no update check
    FetchSettings fetch;
    int parallel;           // members of a task in flight at once
    std::string cookies;    // a cookies file to load at start; empty: none
    std::string site_file;  // a site profile; empty: the built-in site
    // The site the marketplace's pages are read by: the built-in one until
    // load_chosen_site() has read site_file.
    std::shared_ptr<const Site> site;
    bool again;              // collect: start the keywords over
    std::string save_pages;  // collect: the folder that keeps every fetched page; empty: none
    bool merge;              // export: one table, one row per member account
    int tries;               // queue add: the tries a keyword may have in all
    bool json;               // queue: one JSON object per line
    bool failed;             // queue retry: every failed keyword
    bool done;               // queue remove: every done keyword
    bool until_empty;        // work: end once nothing is waiting or running anywhere
    int tasks;               // work: keywords collected at once
    int lease;               // work: seconds a taken keyword stays this worker's unrenewed
    bool demo;
    bool help;
    bool version;
    std::vector<std::string> arguments;
    // A command's keywords from a file, after those of the command line (for
    // `export`, before its file name): take_keywords_file() puts them into
    // `arguments` from `file_keywords_at` on, with each one's line in
    // `file_keyword_lines`, so that a refusal can name the line.
    std::string keywords_file;
    std::size_t file_keywords_at = 0;
    std::vector<std::size_t> file_keyword_lines;
    // Where the program itself lives, for the update's hand-over.
    std::string run_dir;
    std::string program_name;
};

// The usage text, made from the settings table.
extern const char* const kUsage;

// Where the store is: the server's URL when one is set, else the data dir.
inline const std::string& store_place(const Options& options) {
    return options.database_url.empty() ? options.data_dir : options.database_url;
}

// The settings file in use.
inline std::string settings_path(const Options& options) {
    return options.settings_file.empty() ? options.data_dir + "/qinglan.ini"
                                         : options.settings_file;
}

// False with a message in `error` for bad usage, a bad setting in the ini
// file, or a keyword that is not UTF-8.
bool parse_options(int argc, char** argv, Options* options, std::string* error);

// Adds the keywords of `keywords_file`, if one is given, to the arguments.
// False with "FILE:LINE: reason" for a bad line, or the reason the file
// cannot be used (unreadable, without keywords, given to the windows).
bool take_keywords_file(Options* options, std::string* error);

// Where the keyword `arguments[k]` came from, for a message: "keyword 2"
// (counting keywords only, not queue's verb), or "FILE:LINE" for one read
// from the keyword file.
std::string keyword_place(const Options& options, std::size_t k);

// The site profile file in use: `site_file` as given, or, for an installed
// program, the shipped profile of that name when no such file is at hand.
std::string site_profile_file(const Options& options);

// Reads the site profile of `site_file` into `site` (the built-in site for
// none); false with "FILE:LINE: reason" when it does not load, `site` kept.
bool load_chosen_site(Options* options, std::string* error);

// False with the reason when the chosen site cannot search for one of the
// keywords to collect or to queue (queue add): refused before anything is
// opened or asked for.
bool check_searchable(const Options& options, std::string* error);

// Makes the options' network settings those of every later fetch and loads
// the cookies file; false with the reason when the file cannot be used.
bool apply_network_settings(const Options& options, std::string* error);

}  // namespace qinglan
