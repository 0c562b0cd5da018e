#include "app/options.h"

#include <iterator>
#include <map>
#include <optional>
#include <string_view>

#include "app/data_places.h"
#include "app/settings_file.h"
#include "app/settings_table.h"
#include "engine/site/built_in_site.h"
#include "engine/site/profile_site.h"
#include "services/charset.h"
#include "services/environment.h"
#include "services/keywords_file.h"
#include "services/utf8.h"

namespace qinglan {
namespace {

// The commands, before the options.
constexpr const char* kCommands =
    "usage: qinglan                                   the windows\n"
    "       qinglan collect [OPTIONS] KEYWORD...      collect keywords, all at once\n"
    "       qinglan export  [OPTIONS] KEYWORD... FILE write stored keywords' rows to .xlsx or "
    ".csv\n"
    "       qinglan tables  [OPTIONS]                 list stored keywords and their state\n"
    "       qinglan forget  [OPTIONS] KEYWORD...      delete stored keywords\n"
    "       qinglan copy --from DIR|URL --to DIR|URL [KEYWORD...]\n"
    "                                                 copy stored keywords with their rows\n"
    "                                                 and state (all of them by default)\n"
    "       qinglan queue [OPTIONS]                   list the team's work queue (--json)\n"
    "       qinglan queue add [OPTIONS] KEYWORD...    queue keywords with the site profile\n"
    "       qinglan queue retry [OPTIONS] KEYWORD...|--failed\n"
    "       qinglan queue remove [OPTIONS] KEYWORD...|--done\n"
    "       qinglan work [OPTIONS]                    collect queued keywords (a worker)\n"
    "       qinglan site-check FILE [--search PAGE] [--member NAME=PAGE]...\n"
    "                                                 try a site profile on saved pages\n"
    "\n";

std::string make_usage() {
    return std::string(kCommands) + "options:\n" + usage_option_lines() +
           "  --version, --help\n"
           "\n"
           "A host is HOST[:PORT] and nothing else (no path, query or login).\n" +
           usage_file_paragraph() + "Options win over the file. \"--\" ends the options.\n";
}

// Splits argv into the command, the flags, the option values and the
// arguments. False with the reason for an unknown command or option.
bool split_arguments(int argc, char** argv, Options* options,
                     std::map<const Setting*, std::string>* values, std::string* error) {
    int i = 1;
    if (i < argc && argv[i][0] != '-') {
        options->command = argv[i++];
        if (options->command != "collect" && options->command != "export" &&
            options->command != "tables" && options->command != "forget" &&
            options->command != "copy" && options->command != "queue" &&
            options->command != "work") {
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
        const Setting* flag = find_setting_by_option(arg);
        if (flag != nullptr && flag->rule.kind == Rule::kFlag) {
            take_setting(*flag, GivenText{"1", std::string(arg)}, options, error);
            continue;
        }
        // Every other option takes a value, as "--name value" or "--name=value".
        const auto eq = arg.find('=');
        const std::string_view name = arg.substr(0, eq);
        const Setting* option = find_setting_by_option(name);
        if (option == nullptr || option->rule.kind == Rule::kFlag) {
            // Only the name: a mistyped "--proxy=" may carry a password.
            *error = "unknown option '" + std::string(name) + "'";
            return false;
        }
        if (eq != std::string_view::npos) {
            (*values)[option] = std::string(arg.substr(eq + 1));
        } else if (i + 1 < argc) {
            (*values)[option] = argv[++i];
        } else {
            *error = "option '" + std::string(name) + "' needs a value";
            return false;
        }
    }
    return true;
}

// The arguments of the command before its keywords: queue's verb.
std::size_t keywords_start(const Options& options) {
    return options.command == "queue" ? 1 : 0;
}

// Keywords arrive as UTF-8; anything else would be searched as "?"s.
bool check_keywords(const Options& options, std::string* error) {
    std::size_t end = options.arguments.size();
    if (options.command == "export" && end > 0) {
        --end;  // the file name is the system's business
    }
    const std::size_t start = keywords_start(options);
    for (std::size_t k = start; k < end; ++k) {
        const std::string& keyword = options.arguments[k];
        for (std::size_t at = 0; at < keyword.size();) {
            char32_t c = 0;
            const std::size_t length = decode_utf8(keyword, at, &c);
            if (c == kIllFormedUtf8) {
                *error = "keyword " + std::to_string(k + 1 - start) + " is not UTF-8 text (byte " +
                         std::to_string(at + 1) + ")";
                return false;
            }
            at += length;
        }
    }
    return true;
}

}  // namespace

Options::Options() : site(built_in_site()) {
    // The table's defaults pass its own checks.
    std::string unused;
    for (const Setting& setting : settings_table()) {
        take_setting(setting, GivenText{std::string(setting.default_text), {}}, this, &unused);
    }
}

namespace {
const std::string usage_text = make_usage();
}  // namespace

const char* const kUsage = usage_text.c_str();

bool parse_options(int argc, char** argv, Options* options, std::string* error) {
    std::map<const Setting*, std::string> values;
    if (!split_arguments(argc, argv, options, &values, error) || !check_keywords(*options, error)) {
        return false;
    }
    const auto data_dir = values.find(find_setting_by_option("--data-dir"));
    const DataPlaces places = data_places(
        run_directory(), data_dir != values.end() ? std::optional(data_dir->second) : std::nullopt,
        user_folders());
    options->data_dir = places.data_dir;
    options->settings_file = places.settings_file;
    options->shared_dir = places.shared_dir;
    if (options->data_dir.empty()) {
        *error = "the data folder is empty";
        return false;
    }
    // Each setting from its option, else from the ini file, else as it is.
    const std::string ini = options->settings_file;
    const SettingSource source = [&](const Setting& setting) -> std::optional<GivenText> {
        if (const auto given = values.find(&setting); given != values.end()) {
            return GivenText{given->second, std::string(setting.option)};
        }
        if (setting.section.empty()) {
            return std::nullopt;  // an option of the command line only
        }
        const std::optional<std::string> text = read_ini_value(ini, setting.section, setting.key);
        if (!text) {
            return std::nullopt;
        }
        return GivenText{*text, std::string(setting.key) + " in " + ini};
    };
    return take_settings(source, options, error);
}

bool take_keywords_file(Options* options, std::string* error) {
    if (options->keywords_file.empty()) {
        return true;
    }
    if (options->command.empty()) {
        *error = "--keywords-file goes with a command that takes keywords";
        return false;
    }
    std::vector<std::string>& arguments = options->arguments;
    if (options->command == "queue" && arguments.empty()) {
        // Or the file's first keyword would be taken for the verb.
        *error = "--keywords-file goes with queue add, retry or remove, not with the listing";
        return false;
    }
    if (options->command == "export" && arguments.empty()) {
        *error = "export needs the name of the file to write after its keywords";
        return false;
    }
    std::vector<FileKeyword> keywords;
    if (!read_keywords_file(options->keywords_file, &keywords, error)) {
        return false;
    }
    // An export's last argument stays the file it writes.
    options->file_keywords_at =
        options->command == "export" ? arguments.size() - 1 : arguments.size();
    options->file_keyword_lines.clear();
    std::vector<std::string> taken;
    for (FileKeyword& keyword : keywords) {
        taken.push_back(std::move(keyword.keyword));
        options->file_keyword_lines.push_back(keyword.line);
    }
    arguments.insert(arguments.begin() + static_cast<std::ptrdiff_t>(options->file_keywords_at),
                     std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
    return true;
}

std::string keyword_place(const Options& options, std::size_t k) {
    const std::size_t first = options.file_keywords_at;
    if (k >= first && k - first < options.file_keyword_lines.size()) {
        return options.keywords_file + ":" + std::to_string(options.file_keyword_lines[k - first]);
    }
    return "keyword " + std::to_string(k + 1 - keywords_start(options));
}

std::string site_profile_file(const Options& options) {
    return find_site_profile(options.site_file, options.shared_dir);
}

bool load_chosen_site(Options* options, std::string* error) {
    if (options->site_file.empty()) {
        options->site = built_in_site();
        return true;
    }
    std::shared_ptr<const Site> site = load_site(site_profile_file(*options), error);
    if (!site) {
        return false;
    }
    options->site = std::move(site);
    return true;
}

bool check_searchable(const Options& options, std::string* error) {
    // Only a keyword to collect, now or by the queue's workers, is searched;
    // a stored one may be exported or forgotten whatever it holds.
    const std::vector<std::string>& arguments = options.arguments;
    const bool queued =
        options.command == "queue" && !arguments.empty() && arguments.front() == "add";
    if (options.command != "collect" && !queued) {
        return true;
    }
    for (std::size_t k = keywords_start(options); k < arguments.size(); ++k) {
        Text address;
        std::string refusal;
        if (!options.site->search_address(options.hosts, arguments[k], 1, &address, &refusal)) {
            *error = keyword_place(options, k) + ": " + refusal;
            return false;
        }
    }
    return true;
}

bool apply_network_settings(const Options& options, std::string* error) {
    set_fetch_settings(options.fetch);
    return options.cookies.empty() || load_cookies_file(options.cookies, error);
}

}  // namespace qinglan
