#include "tools/marketplace_route.h"

#include <optional>

namespace qinglan {
namespace {

constexpr std::string_view kSearchPath = "/company/company_search.htm";
constexpr std::string_view kCardPath = "/member/ajax/memberCardJson.htm";
constexpr std::string_view kContactPrefix = "/athena/contact/";
constexpr std::string_view kContactSuffix = ".html";
// The key that answers any keyword without a page of its own, and the name
// of its file in a served folder (without the extension every search page has).
constexpr std::string_view kAnyKeywordKey = "search/*";
constexpr std::string_view kAnyKeywordFile = "search/any_keyword";

constexpr std::string_view kShopSearchPath = "/shop/search";
constexpr std::string_view kShopCardPrefix = "/shop/card/";
constexpr std::string_view kShopCardSuffix = ".json";
constexpr std::string_view kShopContactPath = "/shop/contact.html";
constexpr std::string_view kShopAnyKey = "shop/search/*";
constexpr std::string_view kShopAnyFile = "shop/search/any_keyword";

// The raw value of `name` in a query ("a=1&b=2"), not decoded: keys keep the
// keyword in the percent-encoded form the client sent.
std::optional<std::string_view> query_value(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const auto end = query.find('&');
        const std::string_view pair = query.substr(0, end);
        const auto equals = pair.find('=');
        if (pair.substr(0, equals) == name) {
            return equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
        }
        query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
    }
    return std::nullopt;
}

// The host name without a port, from "name", "name:port" or "[v6]:port".
std::string_view host_name(std::string_view host) {
    if (!host.empty() && host.front() == '[') {
        return host.substr(0, host.find(']') + 1);
    }
    return host.substr(0, host.find(':'));
}

// The contact page belongs to the account named by the host's first label;
// a host of one label, or a path naming another account, finds nothing.
std::string contact_key(std::string_view host, std::string_view account) {
    const std::string_view name = host_name(host);
    const auto dot = name.find('.');
    if (dot == std::string_view::npos || dot == 0 || name.substr(0, dot) != account) {
        return {};
    }
    return "contact/" + std::string(account);
}

bool ends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The shop's routes; false when `path` is none of them.
bool route_shop(std::string_view path, std::string_view query, std::string_view host,
                MarketplaceRoute* route) {
    if (path == kShopSearchPath) {
        std::string page(query_value(query, "page").value_or(""));
        if (page.empty()) {
            page = "1";
        }
        route->key =
            "shop/search/" + std::string(query_value(query, "q").value_or("")) + "/" + page;
        route->fallback_key = kShopAnyKey;
        route->page_fallback_key = std::string(kShopAnyKey) + "/" + page;
        route->block_key = "shop/blocked/search.html";
        return true;
    }
    if (path == kShopContactPath) {
        const std::string_view name = host_name(host);
        const std::string contact = contact_key(host, name.substr(0, name.find('.')));
        if (!contact.empty()) {
            route->key = "shop/" + contact;
        }
        route->block_key = "shop/blocked/member.html";
        return true;
    }
    if (starts_with(path, kShopCardPrefix) && ends_with(path, kShopCardSuffix)) {
        const std::string_view account = path.substr(
            kShopCardPrefix.size(), path.size() - kShopCardPrefix.size() - kShopCardSuffix.size());
        if (!account.empty() && account.find('/') == std::string_view::npos) {
            route->key = "shop/card/" + std::string(account);
        }
        route->block_key = "shop/blocked/member.html";
        return true;
    }
    return false;
}

// Keys whose folder files are HTML pages named without their extension.
bool is_html_page_key(std::string_view key) {
    for (std::string_view prefix : {"search/", "contact/", "shop/search/", "shop/contact/"}) {
        if (starts_with(key, prefix)) {
            return true;
        }
    }
    return false;
}

bool has_parent_segment(std::string_view key) {
    while (true) {
        const auto slash = key.find('/');
        if (key.substr(0, slash) == "..") {
            return true;
        }
        if (slash == std::string_view::npos) {
            return false;
        }
        key.remove_prefix(slash + 1);
    }
}

}  // namespace

MarketplaceRoute route_request(const ReceivedRequest& request) {
    std::string_view target = request.target;
    std::string_view host = request.host;
    // A client talking to us as its proxy sends the absolute URL.
    for (std::string_view scheme : {"http://", "https://"}) {
        if (target.substr(0, scheme.size()) == scheme) {
            target.remove_prefix(scheme.size());
            const auto path_start = target.find('/');
            host = target.substr(0, path_start);
            target = path_start == std::string_view::npos ? "/" : target.substr(path_start);
        }
    }
    const auto question = target.find('?');
    const std::string_view path = target.substr(0, question);
    const std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);

    MarketplaceRoute route;
    if (route_shop(path, query, host, &route)) {
        return route;
    }
    if (path == kSearchPath) {
        route.key = "search/" + std::string(query_value(query, "keywords").value_or(""));
        route.fallback_key = kAnyKeywordKey;
        route.block_key = "blocked/search.html";
    } else if (path == kCardPath) {
        route.key = "card/" + std::string(query_value(query, "loginId").value_or(""));
        route.callback = query_value(query, "callback").value_or("");
        route.block_key = "blocked/member.html";
    } else if (path.substr(0, kContactPrefix.size()) == kContactPrefix &&
               ends_with(path, kContactSuffix)) {
        const std::string_view account = path.substr(
            kContactPrefix.size(), path.size() - kContactPrefix.size() - kContactSuffix.size());
        if (!account.empty() && account.find('/') == std::string_view::npos) {
            route.key = contact_key(host, account);
        }
        route.block_key = "blocked/member.html";
    } else if (!path.empty() && path.front() == '/') {
        route.key = path.substr(1);
    }
    return route;
}

std::string folder_file(std::string_view dir, std::string_view key) {
    if (key.empty() || has_parent_segment(key) || key.find('\0') != std::string_view::npos) {
        return {};
    }
    std::string file(dir);
    file += '/';
    // A "*" in a file name is a trap for shells and archives.
    if (key == kAnyKeywordKey) {
        file += kAnyKeywordFile;
    } else if (key == kShopAnyKey) {
        file += kShopAnyFile;
    } else if (starts_with(key, std::string(kShopAnyKey) + "/")) {
        file += std::string(kShopAnyFile) + std::string(key.substr(kShopAnyKey.size()));
    } else {
        file += key;
    }
    if (is_html_page_key(key)) {
        file += ".html";
    } else if (starts_with(key, "card/") || starts_with(key, "shop/card/")) {
        file += ".json";
    }
    return file;
}

std::string default_content_type(std::string_view key) {
    // The shop is a newer site: every page of it is UTF-8.
    if (starts_with(key, "shop/card/")) {
        return "application/json; charset=utf-8";
    }
    if (starts_with(key, "shop/") && (is_html_page_key(key) || ends_with(key, ".html"))) {
        return "text/html; charset=utf-8";
    }
    if (key.substr(0, 7) == "search/" || key.substr(0, 8) == "contact/" ||
        ends_with(key, ".html") || ends_with(key, ".htm")) {
        return "text/html; charset=gbk";
    }
    if (key.substr(0, 5) == "card/" || ends_with(key, ".js")) {
        return "application/javascript; charset=gbk";
    }
    if (ends_with(key, ".txt")) {
        return "text/plain; charset=gbk";
    }
    if (ends_with(key, ".json")) {
        return "application/json; charset=gbk";
    }
    return "application/octet-stream";
}

}  // namespace qinglan
