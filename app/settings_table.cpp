#include "app/settings_table.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <type_traits>

#include "app/options.h"
#include "services/url_parts.h"
#include "storage/store_factory.h"

namespace qinglan {
namespace {

// clang-format off
constexpr Setting kSettings[] = {
    // section, key, option, value name, dialog group, label, rule, default, help, place
    {"", "", "--data-dir", "DIR", Group::kNone, "", {}, "",
     "where date/lingshishuj.db and qinglan.ini live (default:\n"
     "the program's folder; installed: ~/.local/share/qinglan,\n"
     "qinglan.ini in ~/.config/qinglan)",
     [](Options& o) -> Place { return &o.data_dir; }},
    {"database", "url", "--database", "URL", Group::kDatabase,
     "PostgreSQL 服务器（重新启动后生效）", {Rule::kServer}, "",
     "store into a PostgreSQL server instead of the file:\n"
     "postgresql://USER@HOST:PORT/DB (the password from the URL,\n"
     "qinglan.ini, PGPASSWORD or ~/.pgpass)",
     [](Options& o) -> Place { return &o.database_url; }},
    {"database", "user", "", "", Group::kDatabase, "数据库用户名", {}, "", "",
     [](Options& o) -> Place { return &o.database_user; }},
    {"database", "password", "", "", Group::kDatabase, "数据库密码", {Rule::kSecret}, "", "",
     [](Options& o) -> Place { return &o.database_password; }},
    {"", "", "--from", "DIR|URL", Group::kNone, "", {Rule::kStorePlace}, "", "",
     [](Options& o) -> Place { return &o.copy_from; }},
    {"", "", "--to", "DIR|URL", Group::kNone, "", {Rule::kStorePlace}, "", "",
     [](Options& o) -> Place { return &o.copy_to; }},
    {"hosts", "search_host", "--search-host", "HOST[:PORT]", Group::kHosts, "搜索主机",
     {Rule::kHost}, "s.1688.com", "marketplace search host (default {})",
     [](Options& o) -> Place { return &o.hosts.search_host; }},
    {"hosts", "member_host", "--member-host", "HOST[:PORT]", Group::kHosts, "会员主机",
     {Rule::kHost}, "member.1688.com", "marketplace member host (default {})",
     [](Options& o) -> Place { return &o.hosts.member_host; }},
    {"hosts", "contact_domain", "--contact-domain", "DOMAIN[:PORT]", Group::kHosts, "联系页域名",
     {Rule::kHost}, "cn.alibaba.com", "domain of the contact pages (default {})",
     [](Options& o) -> Place { return &o.hosts.contact_domain; }},
    {"hosts", "update_host", "--update-host", "HOST[:PORT]", Group::kHosts, "更新主机",
     {Rule::kOptionalHost}, "", "server of the notice and the update check (default none)",
     [](Options& o) -> Place { return &o.update_host; }},
    {"", "", "--keywords-file", "FILE", Group::kNone, "", {}, "",
     "collect, export, forget, copy, queue add: also the keywords\n"
     "of FILE, one a line (UTF-8; empty lines and # comments skipped)",
     [](Options& o) -> Place { return &o.keywords_file; }},
    {"", "", "--again", "", Group::kNone, "", {Rule::kFlag}, "",
     "collect: start the keywords over, replacing their rows\n"
     "once a new member list has been read",
     [](Options& o) -> Place { return &o.again; }},
    {"", "", "--save-pages", "DIR", Group::kNone, "", {}, "",
     "collect: keep every page fetched in DIR as it arrived\n"
     "(search-KEYWORD-N.html, ACCOUNT-PAGE.html)",
     [](Options& o) -> Place { return &o.save_pages; }},
    {"", "", "--merge", "", Group::kNone, "", {Rule::kFlag}, "",
     "export: one table with the keyword first, one row per\n"
     "member account",
     [](Options& o) -> Place { return &o.merge; }},
    {"", "", "--tries", "N", Group::kNone, "", number(1, 100, "tries"), "3",
     "queue add: the tries a keyword may have in all (default {})",
     [](Options& o) -> Place { return &o.tries; }},
    {"", "", "--json", "", Group::kNone, "", {Rule::kFlag}, "",
     "queue: list the keywords as one JSON object per line",
     [](Options& o) -> Place { return &o.json; }},
    {"", "", "--failed", "", Group::kNone, "", {Rule::kFlag}, "",
     "queue retry: every failed keyword",
     [](Options& o) -> Place { return &o.failed; }},
    {"", "", "--done", "", Group::kNone, "", {Rule::kFlag}, "",
     "queue remove: every done keyword",
     [](Options& o) -> Place { return &o.done; }},
    {"", "", "--until-empty", "", Group::kNone, "", {Rule::kFlag}, "",
     "work: end once no keyword is waiting or running anywhere",
     [](Options& o) -> Place { return &o.until_empty; }},
    {"", "", "--tasks", "N", Group::kNone, "", number(1, 64, "keywords"), "4",
     "work: keywords collected at once (default {})",
     [](Options& o) -> Place { return &o.tasks; }},
    {"", "", "--lease", "SECONDS", Group::kNone, "", number(1, 3600, "seconds"), "60",
     "work: a taken keyword is this worker's for this long,\n"
     "renewed while it works (default {})",
     [](Options& o) -> Place { return &o.lease; }},
    {"network", "stall_timeout", "--stall-timeout", "SECONDS", Group::kTimeouts, "无数据超时（秒）",
     number(1, 86400, "seconds"), "60",
     "give up on a transfer that receives nothing this long (default {})",
     [](Options& o) -> Place { return &o.fetch.stall_seconds; }},
    {"network", "slow_timeout", "--slow-timeout", "SECONDS", Group::kTimeouts, "低速超时（秒）",
     number(1, 86400, "seconds"), "30",
     "give up on a transfer below 1 KiB/s this long (default {})",
     [](Options& o) -> Place { return &o.fetch.slow_seconds; }},
    {"network", "page_timeout", "--page-timeout", "SECONDS", Group::kTimeouts, "页面超时（秒）",
     number(1, 86400, "seconds"), "120",
     "give up on a page that takes longer in all (default {})",
     [](Options& o) -> Place { return &o.fetch.page_seconds; }},
    {"network", "max_page_size", "--max-page-size", "MIB", Group::kTimeouts, "页面大小上限（MiB）",
     number(1, 4096, "MiB"), "16", "give up on a page larger than this (default {})",
     [](Options& o) -> Place { return Mebibytes{&o.fetch.max_page_bytes}; }},
    // A budget below the page cap could never hold a whole page.
    {"network", "page_budget", "--page-budget", "MIB", Group::kTimeouts,
     "全部页面的内存上限（MiB）", number(1, 65536, "MiB", "max_page_size"), "256",
     "pages held at once by all transfers; a transfer\n"
     "starts when one at the page cap fits (default {})",
     [](Options& o) -> Place { return Mebibytes{&o.fetch.page_budget_bytes}; }},
    {"network", "retries", "--retries", "N", Group::kTimeouts, "失败后重试次数",
     number(0, 10, "tries"), "3", "tries after the first of a failed page (default {})",
     [](Options& o) -> Place { return &o.fetch.retries; }},
    {"network", "parallel", "--parallel", "N", Group::kTogether, "每个关键字同时采集的用户数",
     number(1, 64, "members"), "8", "members of a keyword in flight at once (default {})",
     [](Options& o) -> Place { return &o.parallel; }},
    {"network", "connections", "--connections", "N", Group::kTogether, "总连接数",
     number(1, 256, "transfers"), "16", "transfers at once in all (default {})",
     [](Options& o) -> Place { return &o.fetch.connections; }},
    {"network", "per_host", "--per-host", "N", Group::kTogether, "每个主机的连接数",
     number(1, 64, "transfers"), "8", "transfers at once to one host (default {})",
     [](Options& o) -> Place { return &o.fetch.per_host; }},
    {"network", "delay", "--delay", "MS", Group::kTogether, "同一主机两次请求的间隔（毫秒）",
     number(0, 60000, "milliseconds"), "0",
     "pause between two requests to one host, +-50% (default {})",
     [](Options& o) -> Place { return &o.fetch.delay_ms; }},
    {"network", "proxy", "--proxy", "URL", Group::kProxy, "代理", {Rule::kProxy}, "",
     "http://, https://, socks5:// or socks5h:// proxy HOST:PORT\n"
     "(default: the http_proxy, https_proxy, no_proxy variables)",
     [](Options& o) -> Place { return &o.fetch.proxy; }},
    {"network", "proxy_user", "", "", Group::kProxy, "代理用户名", {}, "", "",
     [](Options& o) -> Place { return &o.fetch.proxy_user; }},
    {"network", "proxy_password", "", "", Group::kProxy, "代理密码", {Rule::kSecret}, "", "",
     [](Options& o) -> Place { return &o.fetch.proxy_password; }},
    {"network", "cookies", "--cookies", "FILE", Group::kProxy, "Cookie 文件",
     {Rule::kFile, 0, 0, "*.txt"}, "", "send the cookies of a browser's cookies.txt (only read)",
     [](Options& o) -> Place { return &o.cookies; }},
    {"site", "profile", "--site", "FILE", Group::kHosts, "站点配置", {Rule::kFile, 0, 0, "*.ini"},
     "", "read the marketplace's pages by this site profile\n(default: the built-in site)",
     [](Options& o) -> Place { return &o.site_file; }, "内置"},
    {"", "", "--demo", "", Group::kNone, "", {Rule::kFlag}, "",
     "collect from a built-in sample marketplace on 127.0.0.1",
     [](Options& o) -> Place { return &o.demo; }},
    {"", "", "--help", "", Group::kNone, "", {Rule::kFlag}, "", "",
     [](Options& o) -> Place { return &o.help; }},
    {"", "", "-h", "", Group::kNone, "", {Rule::kFlag}, "", "",
     [](Options& o) -> Place { return &o.help; }},
    {"", "", "--version", "", Group::kNone, "", {Rule::kFlag}, "", "",
     [](Options& o) -> Place { return &o.version; }},
};
// clang-format on

constexpr std::string_view kGroupTitles[] = {"主机", "代理和 Cookie", "数据库", "同时进行",
                                             "超时和重试"};

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

long number_in(const Place& place) {
    return std::visit(
        [](auto target) -> long {
            using T = decltype(target);
            if constexpr (std::is_same_v<T, Mebibytes>) {
                return static_cast<long>(*target.bytes >> 20);
            } else if constexpr (std::is_same_v<T, long*> || std::is_same_v<T, int*>) {
                return *target;
            } else {
                return 0;
            }
        },
        place);
}

void set_number(const Place& place, long number) {
    std::visit(
        [number](auto target) {
            using T = decltype(target);
            if constexpr (std::is_same_v<T, Mebibytes>) {
                *target.bytes = static_cast<std::size_t>(number) << 20;
            } else if constexpr (std::is_same_v<T, long*> || std::is_same_v<T, int*>) {
                *target = static_cast<std::remove_pointer_t<T>>(number);
            }
        },
        place);
}

// "a number of seconds from 1 to 86400"
std::string number_meaning(const Rule& rule) {
    return "a number of " + std::string(rule.unit) + " from " +
           (rule.floor.empty() ? std::to_string(rule.low) : std::string(rule.floor)) + " to " +
           std::to_string(rule.high);
}

bool take_number(const Setting& setting, const std::optional<GivenText>& given, Options* options,
                 std::string* error) {
    const Rule& rule = setting.rule;
    const Place place = setting.place(*options);
    long value = number_in(place);
    if (given && !parse_number(given->text, rule.low, rule.high, &value)) {
        *error = given->where + " takes " + number_meaning(rule);
        return false;
    }
    // One set nowhere grows with its floor, so that the floor set alone
    // keeps working; one set below it is refused by check_floor.
    if (!rule.floor.empty() && !given) {
        value = std::max(value, number_in(find_setting_by_key(rule.floor)->place(*options)));
    }
    set_number(place, value);
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

// The proxy's value is never repeated in a message: it may hold a password.
bool check_proxy(const std::string& proxy, const std::string& where, std::string* error) {
    UrlLogin login;
    std::string reason;
    if (!proxy.empty() && !split_url_login(proxy, &login, &reason)) {
        *error = where + " is not a usable proxy address: " + reason;
        return false;
    }
    if (!proxy.empty() && !proxy_address_valid(proxy)) {
        *error = where +
                 " takes http://, https://, socks5:// or socks5h:// and the proxy's "
                 "host and port";
        return false;
    }
    return true;
}

// A database URL is never repeated either; nor may any parser see one
// whose login cannot be split off: libpq would quote it, password and all.
bool check_store_place(const Rule& rule, const std::string& place, std::string* error) {
    if (rule.kind == Rule::kServer && !place.empty() && !is_database_url(place)) {
        *error = "the database URL must begin with postgresql:// or postgres://";
        return false;
    }
    UrlLogin login;
    std::string reason;
    if (is_database_url(place) && !split_url_login(place, &login, &reason)) {
        *error = "the database URL is not usable: " + reason;
        return false;
    }
    return true;
}

// A host is only a host: a path, a query or a login in it would change
// every request's address.
bool check_text(const Setting& setting, const GivenText& given, std::string* error) {
    switch (setting.rule.kind) {
        case Rule::kHost:
            if (given.text.empty()) {
                *error = "a marketplace host is empty";
                return false;
            }
            [[fallthrough]];
        case Rule::kOptionalHost:
            if (!given.text.empty() && !host_setting_valid(given.text)) {
                *error = given.where +
                         " takes HOST[:PORT], optionally after http:// or https://, "
                         "and nothing else";
                return false;
            }
            return true;
        case Rule::kServer:
        case Rule::kStorePlace:
            return check_store_place(setting.rule, given.text, error);
        case Rule::kProxy:
            return check_proxy(given.text, given.where, error);
        default:
            return true;
    }
}

// A label without its unit: "页面大小上限（MiB）" is "页面大小上限".
std::string_view bare_label(std::string_view label) {
    return label.substr(0, label.find("（"));
}

}  // namespace

std::span<const Setting> settings_table() {
    return kSettings;
}

const Setting* find_setting_by_key(std::string_view key) {
    for (const Setting& setting : kSettings) {
        if (!setting.section.empty() && setting.key == key) {
            return &setting;
        }
    }
    return nullptr;
}

const Setting* find_setting_by_option(std::string_view option) {
    for (const Setting& setting : kSettings) {
        if (!setting.option.empty() && setting.option == option) {
            return &setting;
        }
    }
    return nullptr;
}

std::string_view group_title(Group group) {
    return kGroupTitles[static_cast<int>(group)];
}

std::string setting_value(const Setting& setting, const Options& options) {
    Options copy = options;
    const Place place = setting.place(copy);
    if (const auto* text = std::get_if<std::string*>(&place)) {
        return **text;
    }
    if (const auto* flag = std::get_if<bool*>(&place)) {
        return **flag ? "1" : "";
    }
    return std::to_string(number_in(place));
}

bool take_setting(const Setting& setting, const std::optional<GivenText>& given, Options* options,
                  std::string* error) {
    if (setting.rule.kind == Rule::kNumber) {
        return take_number(setting, given, options, error);
    }
    if (!given) {
        return true;
    }
    if (!check_text(setting, *given, error)) {
        return false;
    }
    const Place place = setting.place(*options);
    if (const auto* text = std::get_if<std::string*>(&place)) {
        **text = given->text;
    } else if (const auto* flag = std::get_if<bool*>(&place)) {
        **flag = !given->text.empty();
    }
    return true;
}

bool check_floor(const Setting& setting, const std::string& where, const Options& options,
                 std::string* error) {
    const Rule& rule = setting.rule;
    const long value = std::stol(setting_value(setting, options));
    const long floor = std::stol(setting_value(*find_setting_by_key(rule.floor), options));
    if (value >= floor) {
        return true;
    }
    *error = where + " takes a number of " + std::string(rule.unit) + " from " +
             std::string(rule.floor) + " (" + std::to_string(floor) + ") to " +
             std::to_string(rule.high);
    return false;
}

std::string rule_text(const Setting& setting, std::string_view text) {
    const Rule& rule = setting.rule;
    switch (rule.kind) {
        case Rule::kNumber:
            if (!rule.floor.empty()) {
                return "须为不小于" +
                       std::string(bare_label(find_setting_by_key(rule.floor)->label)) +
                       "、不大于 " + std::to_string(rule.high) + " 的整数。";
            }
            return "须为 " + std::to_string(rule.low) + " 到 " + std::to_string(rule.high) +
                   " 之间的整数。";
        case Rule::kProxy:
            return "须为空（使用环境变量中的代理），或以 http://、https://、socks5://、socks5h:// "
                   "开头，后接代理的主机和端口。";
        case Rule::kServer:
            return "须为空（使用本机的数据库文件），或以 postgresql:// 或 postgres:// 开头。";
        case Rule::kOptionalHost:
            return "须为空（不检查更新），或为主机[:端口]。";
        case Rule::kHost:
            if (!text.empty()) {
                return "须为主机[:端口]（可以 http:// 或 https:// "
                       "开头），不能带路径、查询或用户名。";
            }
            return "不能为空。";
        default:
            return {};
    }
}

}  // namespace qinglan
