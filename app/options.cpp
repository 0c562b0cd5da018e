#include "app/options.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "app/settings_logins.h"
#include "services/charset.h"
#include "services/environment.h"
#include "services/url_parts.h"
#include "services/utf8.h"
#include "storage/store_factory.h"

namespace qinglan {

const char* const kUsage =
    "usage: qinglan                                   the windows\n"
    "       qinglan collect [OPTIONS] KEYWORD...      collect keywords, all at once\n"
    "       qinglan export  [OPTIONS] KEYWORD... FILE write stored keywords' rows to .xlsx or "
    ".csv\n"
    "       qinglan tables  [OPTIONS]                 list stored keywords and their state\n"
    "       qinglan forget  [OPTIONS] KEYWORD...      delete stored keywords\n"
    "       qinglan copy --from DIR|URL --to DIR|URL [KEYWORD...]\n"
    "                                                 copy stored keywords with their rows\n"
    "                                                 and state (all of them by default)\n"
    "\n"
    "options:\n"
    "  --data-dir DIR              where date/lingshishuj.db lives (default: the program's "
    "folder)\n"
    "  --database URL              store into a PostgreSQL server instead of the file:\n"
    "                              postgresql://USER@HOST:PORT/DB (the password from the URL,\n"
    "                              qinglan.ini, PGPASSWORD or ~/.pgpass)\n"
    "  --search-host HOST[:PORT]   marketplace search host (default s.1688.com)\n"
    "  --member-host HOST[:PORT]   marketplace member host (default member.1688.com)\n"
    "  --contact-domain DOMAIN[:PORT]  domain of the contact pages (default cn.alibaba.com)\n"
    "  --update-host HOST[:PORT]   server of the notice and the update check (default none)\n"
    "  --again                     collect: start the keywords over, replacing their rows\n"
    "                              once a new member list has been read\n"
    "  --merge                     export: one table with the keyword first, one row per\n"
    "                              member account\n"
    "  --stall-timeout SECONDS     give up on a transfer that receives nothing this long "
    "(default 60)\n"
    "  --slow-timeout SECONDS      give up on a transfer below 1 KiB/s this long (default 30)\n"
    "  --page-timeout SECONDS      give up on a page that takes longer in all (default 120)\n"
    "  --max-page-size MIB         give up on a page larger than this (default 16)\n"
    "  --page-budget MIB           pages held at once by all transfers; a transfer\n"
    "                              starts when one at the page cap fits (default 256)\n"
    "  --retries N                 tries after the first of a failed page (default 3)\n"
    "  --parallel N                members of a keyword in flight at once (default 8)\n"
    "  --connections N             transfers at once in all (default 16)\n"
    "  --per-host N                transfers at once to one host (default 8)\n"
    "  --delay MS                  pause between two requests to one host, +-50% (default 0)\n"
    "  --proxy URL                 http://, https://, socks5:// or socks5h:// proxy HOST:PORT\n"
    "                              (default: the http_proxy, https_proxy, no_proxy variables)\n"
    "  --cookies FILE              send the cookies of a browser's cookies.txt (only read)\n"
    "  --demo                      collect from a built-in sample marketplace on 127.0.0.1\n"
    "  --version, --help\n"
    "\n"
    "A host is HOST[:PORT] and nothing else (no path, query or login).\n"
    "A host may start with https:// to use https. The hosts can also be set in\n"
    "<data dir>/qinglan.ini, section [hosts], keys search_host, member_host,\n"
    "contact_domain and update_host; the network settings in section [network],\n"
    "keys stall_timeout, slow_timeout, page_timeout, max_page_size, page_budget,\n"
    "retries, parallel, connections, per_host, delay, proxy, proxy_user,\n"
    "proxy_password and cookies; the server in section [database], keys url, user\n"
    "and password.\n"
    "Options win over the file. \"--\" ends the options.\n";

namespace {

// An option that takes a value, and where the value also may come from.
struct ValueOption {
    std::string_view name;
    std::string_view section;  // of qinglan.ini; empty: options only
    std::string_view key;
};

constexpr ValueOption kValueOptions[] = {
    {"--data-dir", "", ""},
    {"--database", "database", "url"},
    {"--from", "", ""},
    {"--to", "", ""},
    {"--search-host", "hosts", "search_host"},
    {"--member-host", "hosts", "member_host"},
    {"--contact-domain", "hosts", "contact_domain"},
    {"--update-host", "hosts", "update_host"},
    {"--stall-timeout", "network", "stall_timeout"},
    {"--slow-timeout", "network", "slow_timeout"},
    {"--page-timeout", "network", "page_timeout"},
    {"--max-page-size", "network", "max_page_size"},
    {"--page-budget", "network", "page_budget"},
    {"--retries", "network", "retries"},
    {"--parallel", "network", "parallel"},
    {"--connections", "network", "connections"},
    {"--per-host", "network", "per_host"},
    {"--delay", "network", "delay"},
    {"--proxy", "network", "proxy"},
    {"--cookies", "network", "cookies"},
};

const ValueOption* find_value_option(std::string_view name) {
    for (const ValueOption& known : kValueOptions) {
        if (known.name == name) {
            return &known;
        }
    }
    return nullptr;
}

constexpr std::string_view kProxySchemes[] = {"http://", "https://", "socks5://", "socks5h://"};

bool parse_number(const std::string& text, long low, long high, long* number) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
        return false;
    }
    *number = value;
    return true;
}

// Splits argv into the command, the flags, the option values and the
// arguments. False with the reason for an unknown command or option.
bool split_arguments(int argc, char** argv, Options* options,
                     std::map<std::string_view, std::string>* values, std::string* error) {
    int i = 1;
    if (i < argc && argv[i][0] != '-') {
        options->command = argv[i++];
        if (options->command != "collect" && options->command != "export" &&
            options->command != "tables" && options->command != "forget" &&
            options->command != "copy") {
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
        const std::pair<std::string_view, bool*> flags[] = {
            {"--", &options_ended},      {"--help", &options->help},
            {"-h", &options->help},      {"--version", &options->version},
            {"--demo", &options->demo},  {"--again", &options->again},
            {"--merge", &options->merge}};
        bool* flag = nullptr;
        for (const auto& [name, target] : flags) {
            if (arg == name) {
                flag = target;
            }
        }
        if (flag != nullptr) {
            *flag = true;
            continue;
        }
        // Every other option takes a value, as "--name value" or "--name=value".
        const auto eq = arg.find('=');
        const std::string_view name = arg.substr(0, eq);
        const ValueOption* option = find_value_option(name);
        if (option == nullptr) {
            // Only the name: a mistyped "--proxy=" may carry a password.
            *error = "unknown option '" + std::string(name) + "'";
            return false;
        }
        if (eq != std::string_view::npos) {
            (*values)[option->name] = std::string(arg.substr(eq + 1));
        } else if (i + 1 < argc) {
            (*values)[option->name] = argv[++i];
        } else {
            *error = "option '" + std::string(name) + "' needs a value";
            return false;
        }
    }
    return true;
}

// The text of a setting from its option, else from the ini file, and where
// it came from (for a message about a bad value).
std::optional<std::string> setting_text(const std::map<std::string_view, std::string>& values,
                                        const std::string& ini, std::string_view name,
                                        std::string* where) {
    const ValueOption* option = find_value_option(name);
    if (const auto given = values.find(name); given != values.end()) {
        *where = std::string(name);
        return given->second;
    }
    if (option->section.empty()) {
        return std::nullopt;  // an option of the command line only
    }
    *where = std::string(option->key) + " in " + ini;
    return read_ini_value(ini, option->section, option->key);
}

// The numeric network settings, in the order resolve_limits fills them.
struct NumberSetting {
    std::string_view option;
    long low, high;
    const char* meaning;
};

constexpr NumberSetting kNumberSettings[] = {
    {"--stall-timeout", 1, 86400, "a number of seconds from 1 to 86400"},
    {"--slow-timeout", 1, 86400, "a number of seconds from 1 to 86400"},
    {"--page-timeout", 1, 86400, "a number of seconds from 1 to 86400"},
    {"--max-page-size", 1, 4096, "a number of MiB from 1 to 4096"},
    {"--page-budget", 1, 65536, "a number of MiB from max_page_size to 65536"},
    {"--retries", 0, 10, "a number of tries from 0 to 10"},
    {"--parallel", 1, 64, "a number of members from 1 to 64"},
    {"--connections", 1, 256, "a number of transfers from 1 to 256"},
    {"--per-host", 1, 64, "a number of transfers from 1 to 64"},
    {"--delay", 0, 60000, "a number of milliseconds from 0 to 60000"},
};

// The numeric network settings from the options, else the ini file, else
// their defaults.
bool resolve_limits(const std::map<std::string_view, std::string>& values, const std::string& ini,
                    Options* options, std::string* error) {
    FetchSettings fetch = options->fetch;
    long max_page_mib = static_cast<long>(fetch.max_page_bytes >> 20);
    long budget_mib = static_cast<long>(fetch.page_budget_bytes >> 20);
    long retries = fetch.retries, parallel = options->parallel, connections = fetch.connections,
         per_host = fetch.per_host;
    long* const targets[std::size(kNumberSettings)] = {
        &fetch.stall_seconds,
        &fetch.slow_seconds,
        &fetch.page_seconds,
        &max_page_mib,
        &budget_mib,
        &retries,
        &parallel,
        &connections,
        &per_host,
        &fetch.delay_ms,
    };
    std::string budget_where;  // empty: the budget is set nowhere
    for (std::size_t i = 0; i < std::size(kNumberSettings); ++i) {
        const NumberSetting& limit = kNumberSettings[i];
        std::string where;
        const std::optional<std::string> text = setting_text(values, ini, limit.option, &where);
        if (text && !parse_number(*text, limit.low, limit.high, targets[i])) {
            *error = where + " takes " + limit.meaning;
            return false;
        }
        if (text && targets[i] == &budget_mib) {
            budget_where = where;
        }
    }
    // A budget below the cap could never hold a whole page. One set nowhere
    // grows with a larger cap, so that a cap set alone keeps working.
    if (budget_mib < max_page_mib) {
        if (!budget_where.empty()) {
            *error = budget_where + " takes a number of MiB from max_page_size (" +
                     std::to_string(max_page_mib) + ") to 65536";
            return false;
        }
        budget_mib = max_page_mib;
    }
    fetch.page_budget_bytes = static_cast<std::size_t>(budget_mib) << 20;
    fetch.max_page_bytes = static_cast<std::size_t>(max_page_mib) << 20;
    fetch.retries = static_cast<int>(retries);
    fetch.connections = static_cast<int>(connections);
    fetch.per_host = static_cast<int>(per_host);
    options->fetch = fetch;
    options->parallel = static_cast<int>(parallel);
    return true;
}

// A proxy address the transfers can use: a known scheme, a host, and a port
// if any, with nothing after them but a "/".
bool proxy_address_valid(const std::string& proxy) {
    const bool known =
        std::any_of(std::begin(kProxySchemes), std::end(kProxySchemes),
                    [&](std::string_view scheme) { return proxy.rfind(scheme, 0) == 0; });
    if (!known) {
        return false;
    }
    CURLU* url = curl_url();
    if (url == nullptr) {
        return false;
    }
    bool valid =
        curl_url_set(url, CURLUPART_URL, proxy.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK;
    for (const CURLUPart part :
         {CURLUPART_HOST, CURLUPART_PATH, CURLUPART_QUERY, CURLUPART_FRAGMENT}) {
        char* value = nullptr;
        const bool present = valid && curl_url_get(url, part, &value, 0) == CURLUE_OK;
        const std::string_view text = present && value != nullptr ? value : "";
        if (part == CURLUPART_HOST ? text.empty() : !(text.empty() || text == "/")) {
            valid = false;
        }
        curl_free(value);
    }
    curl_url_cleanup(url);
    return valid;
}

// The proxy and the cookies file. The proxy's value is never repeated in a
// message: it may hold a password.
bool resolve_network(const std::map<std::string_view, std::string>& values, const std::string& ini,
                     Options* options, std::string* error) {
    std::string where;
    FetchSettings& fetch = options->fetch;
    if (auto proxy = setting_text(values, ini, "--proxy", &where)) {
        UrlLogin login;
        std::string reason;
        if (!proxy->empty() && !split_url_login(*proxy, &login, &reason)) {
            *error = where + " is not a usable proxy address: " + reason;
            return false;
        }
        if (!proxy->empty() && !proxy_address_valid(*proxy)) {
            *error = where +
                     " takes http://, https://, socks5:// or socks5h:// and the proxy's "
                     "host and port";
            return false;
        }
        fetch.proxy = *proxy;
    }
    fetch.proxy_user = read_ini_value(ini, "network", "proxy_user").value_or("");
    fetch.proxy_password = read_ini_value(ini, "network", "proxy_password").value_or("");
    options->database_user = read_ini_value(ini, "database", "user").value_or("");
    options->database_password = read_ini_value(ini, "database", "password").value_or("");
    options->cookies = setting_text(values, ini, "--cookies", &where).value_or("");
    return true;
}

// The hosts and the network settings, each from its option, else from the
// ini file, else as `options` has it.
bool resolve_settings(const std::map<std::string_view, std::string>& values, const std::string& ini,
                      Options* options, std::string* error) {
    std::map<std::string_view, std::string> wheres;
    auto resolve = [&](std::string_view name, std::string* target) {
        if (auto text = setting_text(values, ini, name, &wheres[name])) {
            *target = *text;
        }
    };
    resolve("--search-host", &options->hosts.search_host);
    resolve("--member-host", &options->hosts.member_host);
    resolve("--contact-domain", &options->hosts.contact_domain);
    resolve("--update-host", &options->update_host);
    resolve("--database", &options->database_url);
    resolve("--from", &options->copy_from);
    resolve("--to", &options->copy_to);
    if (!options->database_url.empty() && !is_database_url(options->database_url)) {
        // Not repeated: it may hold a password.
        *error = "the database URL must begin with postgresql:// or postgres://";
        return false;
    }
    // A URL no parser may see: libpq would quote it, password and all.
    for (const std::string* url :
         {&options->database_url, &options->copy_from, &options->copy_to}) {
        UrlLogin login;
        std::string reason;
        if (is_database_url(*url) && !split_url_login(*url, &login, &reason)) {
            *error = "the database URL is not usable: " + reason;
            return false;
        }
    }
    for (const std::string* host : {&options->hosts.search_host, &options->hosts.member_host,
                                    &options->hosts.contact_domain}) {
        if (host->empty()) {
            *error = "a marketplace host is empty";
            return false;
        }
    }
    // A host is only a host: a path, a query or a login in it would change
    // every request's address.
    const std::pair<std::string_view, const std::string*> hosts[] = {
        {"--search-host", &options->hosts.search_host},
        {"--member-host", &options->hosts.member_host},
        {"--contact-domain", &options->hosts.contact_domain},
        {"--update-host", &options->update_host}};
    for (const auto& [name, host] : hosts) {
        if (!(name == "--update-host" && host->empty()) && !host_setting_valid(*host)) {
            *error = wheres[name] +
                     " takes HOST[:PORT], optionally after http:// or https://, "
                     "and nothing else";
            return false;
        }
    }
    return resolve_limits(values, ini, options, error) &&
           resolve_network(values, ini, options, error);
}

// Keywords arrive as UTF-8; anything else would be searched as "?"s. A
// keyword to collect must also have GBK bytes, the only ones it can be
// searched with.
bool check_keywords(const Options& options, std::string* error) {
    std::size_t keywords = options.arguments.size();
    if (options.command == "export" && keywords > 0) {
        --keywords;  // the file name is the system's business
    }
    for (std::size_t k = 0; k < keywords; ++k) {
        const std::string& keyword = options.arguments[k];
        for (std::size_t at = 0; at < keyword.size();) {
            char32_t c = 0;
            const std::size_t length = decode_utf8(keyword, at, &c);
            if (c == kIllFormedUtf8) {
                *error = "keyword " + std::to_string(k + 1) + " is not UTF-8 text (byte " +
                         std::to_string(at + 1) + ")";
                return false;
            }
            at += length;
        }
        // Only a collected keyword is searched; a stored one may be exported
        // or forgotten whatever it holds.
        Text gbk;
        std::string refusal;
        if (options.command == "collect" && !keyword_to_gbk(keyword, &gbk, &refusal)) {
            *error = "keyword " + std::to_string(k + 1) + ": " + refusal;
            return false;
        }
    }
    return true;
}

}  // namespace

bool parse_options(int argc, char** argv, Options* options, std::string* error) {
    std::map<std::string_view, std::string> values;
    if (!split_arguments(argc, argv, options, &values, error) || !check_keywords(*options, error)) {
        return false;
    }
    const auto data_dir = values.find("--data-dir");
    options->data_dir = data_dir != values.end() ? data_dir->second : run_directory();
    if (options->data_dir.empty()) {
        *error = "the data folder is empty";
        return false;
    }
    return resolve_settings(values, options->data_dir + "/qinglan.ini", options, error);
}

std::span<const FileSetting> file_settings() {
    static const std::vector<FileSetting> settings = [] {
        std::vector<FileSetting> list;
        for (const ValueOption& option : kValueOptions) {
            if (!option.section.empty()) {
                list.push_back({option.section, option.key, option.name});
            }
        }
        return list;
    }();
    return settings;
}

std::optional<std::pair<long, long>> setting_range(std::string_view key) {
    for (const NumberSetting& number : kNumberSettings) {
        if (find_value_option(number.option)->key == key) {
            return std::pair(number.low, number.high);
        }
    }
    return std::nullopt;
}

std::map<std::string, std::string> setting_texts(const Options& options) {
    const FetchSettings& fetch = options.fetch;
    const std::pair<std::string_view, std::string> texts[] = {
        {"search_host", options.hosts.search_host},
        {"member_host", options.hosts.member_host},
        {"contact_domain", options.hosts.contact_domain},
        {"update_host", options.update_host},
        {"stall_timeout", std::to_string(fetch.stall_seconds)},
        {"slow_timeout", std::to_string(fetch.slow_seconds)},
        {"page_timeout", std::to_string(fetch.page_seconds)},
        {"max_page_size", std::to_string(fetch.max_page_bytes >> 20)},
        {"page_budget", std::to_string(fetch.page_budget_bytes >> 20)},
        {"retries", std::to_string(fetch.retries)},
        {"parallel", std::to_string(options.parallel)},
        {"connections", std::to_string(fetch.connections)},
        {"per_host", std::to_string(fetch.per_host)},
        {"delay", std::to_string(fetch.delay_ms)},
        {"proxy", fetch.proxy},
        {"cookies", options.cookies},
        {"url", options.database_url},
        {"proxy_user", fetch.proxy_user},
        {"proxy_password", fetch.proxy_password},
        {"user", options.database_user},
        {"password", options.database_password},
    };
    return {std::begin(texts), std::end(texts)};
}

bool apply_setting_texts(const std::map<std::string, std::string>& texts, Options* options,
                         std::string* error) {
    std::map<std::string_view, std::string> values;
    for (const FileSetting& setting : file_settings()) {
        if (const auto text = texts.find(std::string(setting.key)); text != texts.end()) {
            values[setting.option] = text->second;
        }
    }
    // What the texts leave out stays as it is; the file is only read for
    // what no text sets (the proxy's login).
    Options changed = *options;
    for (const auto& [key, text] : setting_texts(*options)) {
        for (const FileSetting& setting : file_settings()) {
            if (setting.key == key && !values.count(setting.option)) {
                values[setting.option] = text;
            }
        }
    }
    std::string reason;
    if (!resolve_settings(values, options->data_dir + "/qinglan.ini", &changed, &reason)) {
        // Named as in the file: "--parallel takes ..." becomes "parallel takes ...".
        for (const FileSetting& setting : file_settings()) {
            if (reason.rfind(setting.option, 0) == 0) {
                reason = std::string(setting.key) + reason.substr(setting.option.size());
                break;
            }
        }
        *error = reason;
        return false;
    }
    apply_login_texts(texts, &changed);
    *options = std::move(changed);
    return true;
}

bool write_setting_texts(const std::string& data_dir,
                         const std::map<std::string, std::string>& texts, std::string* error) {
    const std::string ini = data_dir + "/qinglan.ini";
    if (!protect_settings_file(ini, texts)) {
        *error = "cannot make " + ini + " readable by its owner only";
        return false;
    }
    for (const auto& settings : {file_settings(), login_settings()}) {
        for (const FileSetting& setting : settings) {
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

bool apply_network_settings(const Options& options, std::string* error) {
    set_fetch_settings(options.fetch);
    return options.cookies.empty() || load_cookies_file(options.cookies, error);
}

}  // namespace qinglan
