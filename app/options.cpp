#include "app/options.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "services/environment.h"

namespace qinglan {

const char* const kUsage =
    "usage: qinglan                                   the windows\n"
    "       qinglan collect [OPTIONS] KEYWORD...      collect keywords, all at once\n"
    "       qinglan export  [OPTIONS] KEYWORD FILE    write a stored keyword's rows to .xlsx\n"
    "       qinglan tables  [OPTIONS]                 list stored keywords and their rows\n"
    "\n"
    "options:\n"
    "  --data-dir DIR              where date/lingshishuj.db lives (default: the program's "
    "folder)\n"
    "  --search-host HOST[:PORT]   marketplace search host (default s.1688.com)\n"
    "  --member-host HOST[:PORT]   marketplace member host (default member.1688.com)\n"
    "  --contact-domain DOMAIN[:PORT]  domain of the contact pages (default cn.alibaba.com)\n"
    "  --update-host HOST[:PORT]   server of the notice and the update check (default none)\n"
    "  --stall-timeout SECONDS     give up on a transfer that stalls this long (default 60)\n"
    "  --demo                      collect from a built-in sample marketplace on 127.0.0.1\n"
    "  --version, --help\n"
    "\n"
    "A host may start with https:// to use https. The hosts can also be set in\n"
    "<data dir>/qinglan.ini, section [hosts], keys search_host, member_host,\n"
    "contact_domain and update_host; options win over the file. \"--\" ends the options.\n";

namespace {

bool parse_seconds(std::string_view text, long* seconds) {
    const std::string s(text);
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0' || errno != 0 || value < 1 || value > 86400) {
        return false;
    }
    *seconds = value;
    return true;
}

}  // namespace

bool parse_options(int argc, char** argv, Options* options, std::string* error) {
    struct HostOption {
        std::string_view name;
        std::optional<std::string> value;
    };
    HostOption search{"--search-host", {}}, member{"--member-host", {}},
        contact{"--contact-domain", {}}, update{"--update-host", {}};
    HostOption* host_options[] = {&search, &member, &contact, &update};
    std::optional<std::string> data_dir;

    int i = 1;
    if (i < argc && argv[i][0] != '-') {
        options->command = argv[i++];
        if (options->command != "collect" && options->command != "export" &&
            options->command != "tables") {
            *error = "unknown command '" + options->command + "'";
            return false;
        }
    }
    bool options_ended = false;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options_ended || arg.empty() || arg[0] != '-' || arg == "-") {
            options->arguments.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options->help = true;
            continue;
        }
        if (arg == "--version") {
            options->version = true;
            continue;
        }
        if (arg == "--demo") {
            options->demo = true;
            continue;
        }
        // Every other option takes a value, as "--name value" or "--name=value".
        std::string_view name = arg;
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = std::string(arg.substr(eq + 1));
        } else if (i + 1 < argc) {
            value = argv[i + 1];
        }
        bool known = false;
        auto take = [&](std::optional<std::string>& target) {
            known = true;
            target = value;
            if (arg.find('=') == std::string_view::npos) {
                ++i;
            }
        };
        for (HostOption* host : host_options) {
            if (name == host->name) {
                take(host->value);
            }
        }
        std::optional<std::string> stall;
        if (name == "--data-dir") {
            take(data_dir);
        } else if (name == "--stall-timeout") {
            take(stall);
        }
        if (!known) {
            *error = "unknown option '" + std::string(arg) + "'";
            return false;
        }
        if (!value) {
            *error = "option '" + std::string(name) + "' needs a value";
            return false;
        }
        if (stall && !parse_seconds(*stall, &options->stall_timeout)) {
            *error = "--stall-timeout takes a number of seconds from 1 to 86400";
            return false;
        }
    }

    options->data_dir = data_dir.value_or(run_directory());
    if (options->data_dir.empty()) {
        *error = "the data folder is empty";
        return false;
    }
    const std::string ini = options->data_dir + "/qinglan.ini";
    auto resolve = [&](const HostOption& option, std::string_view key, std::string* target) {
        if (option.value) {
            *target = *option.value;
        } else if (auto from_file = read_ini_value(ini, "hosts", key)) {
            *target = *from_file;
        }
    };
    resolve(search, "search_host", &options->hosts.search_host);
    resolve(member, "member_host", &options->hosts.member_host);
    resolve(contact, "contact_domain", &options->hosts.contact_domain);
    resolve(update, "update_host", &options->update_host);
    for (const std::string* host : {&options->hosts.search_host, &options->hosts.member_host,
                                    &options->hosts.contact_domain}) {
        if (host->empty()) {
            *error = "a marketplace host is empty";
            return false;
        }
    }
    return true;
}

}  // namespace qinglan
