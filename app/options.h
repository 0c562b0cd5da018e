#pragma once

// The command line: qinglan [COMMAND] [OPTIONS] [ARGUMENTS...], with the
// hosts also read from <data dir>/qinglan.ini (options win over the file).

#include <string>
#include <vector>

#include "engine/request.h"

namespace qinglan {

struct Options {
    std::string command;  // empty (the windows), "collect", "export" or "tables"
    std::string data_dir;
    MarketHosts hosts;
    std::string update_host;  // empty: no notice and no update check
    long stall_timeout = 60;
    bool demo = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> arguments;
};

extern const char* const kUsage;

// False with a message in `error` for bad usage.
bool parse_options(int argc, char** argv, Options* options, std::string* error);

}  // namespace qinglan
