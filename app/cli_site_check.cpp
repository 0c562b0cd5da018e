#include "app/cli_site_check.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>

#include "app/terminal_text.h"
#include "engine/site/profile_site.h"
#include "services/charset.h"
#include "services/contact_record.h"
#include "services/text.h"

namespace qinglan {
namespace {

constexpr const char* kSiteCheckUsage =
    "usage: qinglan site-check FILE [--search PAGE] [--member NAME=PAGE]...\n";

// A page file named on the command line, and what the profile takes it for.
struct SavedPage {
    bool search = false;
    std::string name;  // --member's NAME as given
    std::string path;
    std::size_t member_page = 0;  // index into the profile's member pages
    Bytes body;
};

struct CheckRequest {
    std::string profile;
    std::vector<SavedPage> pages;  // in the order given
};

// Adds the page of a --search or --member option; false with the reason
// when it is not one the command takes.
bool add_page(const std::string& option, const std::string& value, CheckRequest* request,
              std::string* error) {
    if (option == "--search") {
        for (const SavedPage& page : request->pages) {
            if (page.search) {
                *error = "--search takes one result page";
                return false;
            }
        }
        request->pages.push_back({true, {}, value, 0, {}});
        return true;
    }
    const std::size_t eq = value.find('=');
    if (eq == std::string::npos || eq == 0) {
        *error = "--member takes NAME=PAGE: a page name of the profile's [member] and a file";
        return false;
    }
    request->pages.push_back({false, value.substr(0, eq), value.substr(eq + 1), 0, {}});
    return true;
}

// False with the reason for bad usage.
bool parse_check_arguments(const std::vector<std::string>& args, CheckRequest* request,
                           std::string* error) {
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_ended || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!request->profile.empty()) {
                *error =
                    "site-check takes one profile file, and pages only after --search "
                    "and --member";
                return false;
            }
            request->profile = arg;
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        const std::string option = arg.substr(0, arg.find('='));
        std::string value;
        if (option != "--search" && option != "--member") {
            *error = "unknown option '" + option + "'";
            return false;
        }
        if (option.size() < arg.size()) {
            value = arg.substr(option.size() + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            *error = "option '" + option + "' needs a value";
            return false;
        }
        if (!add_page(option, value, request, error)) {
            return false;
        }
    }
    if (request->profile.empty()) {
        *error = "site-check needs a site profile file";
        return false;
    }
    return true;
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Finds each --member page among the profile's and reads every page file;
// false with the reason when a name is unknown or a file cannot be read.
bool resolve_pages(const SiteProfile& profile, std::vector<SavedPage>* pages, std::string* error) {
    for (SavedPage& page : *pages) {
        if (!page.search) {
            std::string known;
            bool found = false;
            for (std::size_t k = 0; k < profile.member_pages.size() && !found; ++k) {
                found = same_name(page.name, profile.member_pages[k].name);
                page.member_page = k;
                known += (k == 0 ? "" : ", ") + profile.member_pages[k].name;
            }
            if (!found) {
                *error =
                    "the profile has no member page '" + page.name + "' (it has " + known + ")";
                return false;
            }
        }
        std::error_code status;
        std::ifstream file(page.path, std::ios::binary);
        if (!std::filesystem::is_regular_file(page.path, status) || !file) {
            *error = page.path + ": cannot be read (" +
                     (std::filesystem::exists(page.path, status) ? "not a readable file"
                                                                 : "no such file") +
                     ")";
            return false;
        }
        page.body.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        if (file.bad()) {
            *error = page.path + ": cannot be read";
            return false;
        }
    }
    return true;
}

// "公司名称: card", or how the record fills a field without a rule.
std::string field_line(const SiteProfile& profile, int field) {
    const std::optional<FieldRule>& rule = profile.fields[static_cast<std::size_t>(field)];
    const std::string name(kRecordColumnNames[static_cast<std::size_t>(field)]);
    if (!rule) {
        return name + ": " + (field == kAccount ? "the account itself" : "no rule, always empty");
    }
    return name + ": " + profile.member_pages[rule->page].name;
}

void print_summary(const SiteProfile& profile, const std::string& path) {
    std::printf("%s: the profile loads\n", escape_controls(path).c_str());
    std::printf("name: %s\n", escape_controls(profile.name).c_str());
    std::printf("charset: %s\n", profile.charset == ProfileCharset::kUtf8 ? "utf-8" : "gbk");
    std::printf("result pages: up to %d\n", profile.pages);
    std::printf("block pages: %s\n",
                profile.blocked ? "what the blocked pattern matches"
                                : "result pages without accounts whose title asks to log in");
    std::printf("member pages:\n");
    for (const ProfilePage& page : profile.member_pages) {
        std::printf("  %s = %s\n", escape_controls(page.name).c_str(),
                    escape_controls(page.address).c_str());
    }
    std::printf("fields:\n");
    for (int field = 0; field < kRecordFields; ++field) {
        std::printf("  %s\n", escape_controls(field_line(profile, field)).c_str());
    }
}

// The accounts of a result page in the order the collection lists them on
// its first page; false when there are none.
bool check_search_page(const ProfileSite& site, const SavedPage& page) {
    const Text text = site.page_text(page.body, {});
    const TextList accounts = site.accounts(text);
    std::printf("search page %s\n", escape_controls(page.path).c_str());
    std::printf("  block page: %s\n", site.blocked(text, true, {}) ? "yes" : "no");
    std::printf("  accounts: %zu\n", accounts.size());
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        std::printf("    %zu. \"%s\"\n", i + 1, escape_controls(gbk_to_utf8(accounts[i])).c_str());
    }
    if (accounts.empty()) {
        std::fprintf(stderr, "qinglan: the account pattern finds no account in %s\n",
                     escape_controls(page.path).c_str());
    }
    return !accounts.empty();
}

// The fields that come from a member page, each with its text; false when
// the pattern of one of them matches nothing.
bool check_member_page(const ProfileSite& site, const SavedPage& page) {
    const SiteProfile& profile = site.profile();
    const std::string& name = profile.member_pages[page.member_page].name;
    const Text text = site.page_text(page.body, {});
    std::printf("member page %s: %s\n", escape_controls(name).c_str(),
                escape_controls(page.path).c_str());
    std::printf("  block page: %s\n", site.blocked(text, false, {}) ? "yes" : "no");
    bool all_matched = true;
    bool any_field = false;
    for (int field = 0; field < kRecordFields; ++field) {
        const std::optional<FieldRule>& rule = profile.fields[static_cast<std::size_t>(field)];
        if (!rule || rule->page != page.member_page) {
            continue;
        }
        any_field = true;
        const std::string field_name(kRecordColumnNames[static_cast<std::size_t>(field)]);
        const std::optional<std::string> value = site.field_text(field, text);
        if (value) {
            std::printf("  %s: \"%s\"\n", field_name.c_str(), escape_controls(*value).c_str());
            continue;
        }
        all_matched = false;
        std::printf("  %s: no match\n", field_name.c_str());
        std::fprintf(stderr, "qinglan: the pattern of %s matches nothing in %s page %s\n",
                     field_name.c_str(), escape_controls(name).c_str(),
                     escape_controls(page.path).c_str());
    }
    if (!any_field) {
        std::printf("  no field comes from this page\n");
    }
    return all_matched;
}

}  // namespace

int run_site_check(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kSiteCheckUsage, stdout);
            return 0;
        }
        if (arg == "--") {
            break;
        }
    }
    CheckRequest request;
    std::string error;
    if (!parse_check_arguments(args, &request, &error)) {
        std::fprintf(stderr, "qinglan: %s\n%s", escape_controls(error).c_str(), kSiteCheckUsage);
        return 2;
    }
    const std::shared_ptr<const ProfileSite> site = load_profile_site(request.profile, &error);
    if (!site || !resolve_pages(site->profile(), &request.pages, &error)) {
        std::fprintf(stderr, "qinglan: %s\n", escape_controls(error).c_str());
        return 2;
    }
    if (request.pages.empty()) {
        print_summary(site->profile(), request.profile);
        return 0;
    }
    bool all_found = true;
    for (const SavedPage& page : request.pages) {
        const bool found =
            page.search ? check_search_page(*site, page) : check_member_page(*site, page);
        all_found = found && all_found;
    }
    std::fflush(stdout);
    return all_found ? 0 : 1;
}

}  // namespace qinglan
