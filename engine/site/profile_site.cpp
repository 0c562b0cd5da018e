#include "engine/site/profile_site.h"

#include <optional>

#include "engine/page_text.h"
#include "engine/request.h"
#include "engine/site/field_text.h"
#include "services/charset.h"
#include "services/small_file.h"
#include "services/utf8.h"

namespace qinglan {
namespace {

// Larger is no profile anyone wrote by hand; reading it would only cost memory.
constexpr std::size_t kMaxProfileBytes = std::size_t{1} << 20;

std::vector<MemberPage> engine_pages(const SiteProfile& profile) {
    std::vector<MemberPage> pages;
    pages.reserve(profile.member_pages.size());
    for (const ProfilePage& page : profile.member_pages) {
        pages.push_back({page.name, page.name});
    }
    return pages;
}

TemplateValues host_values(const MarketHosts& hosts) {
    TemplateValues values;
    values.search_host = hosts.search_host;
    values.member_host = hosts.member_host;
    values.contact_domain = hosts.contact_domain;
    return values;
}

// Group 1 of the rule's first match on the page, cleaned; nothing when it
// does not match.
std::optional<std::string> cut_field(const FieldRule& rule, const DecodedText& page) {
    const MatchResult match = regex_search(rule.pattern.compiled, page);
    if (match.empty()) {
        return std::nullopt;
    }
    const std::string_view text = page.utf8();
    return clean_field_text(submatch_text(match, text, 1), is_json_page(text));
}

}  // namespace

ProfileSite::ProfileSite(SiteProfile profile)
    : profile_(std::move(profile)), member_pages_(engine_pages(profile_)) {}

std::string ProfileSite::to_charset(std::string_view gbk_text) const {
    return profile_.charset == ProfileCharset::kUtf8 ? gbk_to_utf8(gbk_text)
                                                     : std::string(gbk_text);
}

bool ProfileSite::search_address(const MarketHosts& hosts, const std::string& keyword, int page,
                                 Text* address, std::string* refusal) const {
    std::string keyword_bytes;
    if (profile_.charset == ProfileCharset::kGbk) {
        if (!keyword_to_gbk(keyword, &keyword_bytes, refusal)) {
            return false;
        }
    } else {
        if (const std::size_t at = ill_formed_utf8_at(keyword); at != std::string_view::npos) {
            *refusal = "the keyword is not UTF-8 text (byte " + std::to_string(at + 1) + ")";
            return false;
        }
        keyword_bytes = keyword;
    }
    TemplateValues values = host_values(hosts);
    values.keyword = keyword_bytes;
    values.page = page;
    *address = fill_template(profile_.search_url, values);
    return true;
}

Text ProfileSite::page_text(std::string_view body, std::string_view /*content_type*/) const {
    // The profile names the pages' charset; a UTF-8 page becomes GB18030,
    // which keeps every character it holds.
    return profile_.charset == ProfileCharset::kUtf8 ? utf8_to_gbk(body) : Text(body);
}

TextList ProfileSite::accounts(std::string_view result_page) const {
    const std::string page = gbk_to_utf8(result_page);
    const DecodedText decoded(page);
    TextList found;
    std::size_t next = 0;
    while (next < page.size()) {
        const MatchResult match = regex_search(profile_.account.compiled, decoded, next);
        if (match.empty()) {
            break;
        }
        found.push_back(utf8_to_gbk(submatch_text(match, page, 1)));
        next = match[0].offset + match[0].length;
        if (match[0].length == 0) {
            ++next;  // the search starts at the next character
        }
    }
    return found;
}

bool ProfileSite::requestable(std::string_view account) const {
    return account_requestable(account);
}

Text ProfileSite::member_page_address(const MarketHosts& hosts, std::size_t page,
                                      std::string_view account) const {
    if (page >= profile_.member_pages.size()) {
        return {};
    }
    const std::string account_bytes = to_charset(account);
    TemplateValues values = host_values(hosts);
    values.account = account_bytes;
    return fill_template(profile_.member_pages[page].address, values);
}

ContactRecord ProfileSite::record(std::string_view account, const TextList& pages,
                                  const CellSink& on_cell) const {
    // Each page is read as UTF-8 once, however many fields come from it.
    std::vector<std::string> utf8_pages(profile_.member_pages.size());
    std::vector<std::optional<DecodedText>> decoded(profile_.member_pages.size());
    ContactRecord record;
    for (int i = 0; i < kRecordFields; ++i) {
        const std::optional<FieldRule>& rule = profile_.fields[static_cast<std::size_t>(i)];
        if (!rule) {
            record[i] = i == kAccount ? std::string(account) : std::string();
        } else if (rule->page < pages.size()) {
            std::optional<DecodedText>& page = decoded[rule->page];
            if (!page) {
                utf8_pages[rule->page] = gbk_to_utf8(pages[rule->page]);
                page.emplace(utf8_pages[rule->page]);
            }
            record[i] = utf8_to_gbk(cut_field(*rule, *page).value_or(std::string()));
        }
        if (on_cell) {
            on_cell(i, record[i]);
        }
    }
    return record;
}

std::optional<std::string> ProfileSite::field_text(int field, std::string_view page) const {
    if (field < 0 || field >= kRecordFields) {
        return std::nullopt;
    }
    const std::optional<FieldRule>& rule = profile_.fields[static_cast<std::size_t>(field)];
    if (!rule) {
        return std::nullopt;
    }
    const std::string utf8 = gbk_to_utf8(page);
    return cut_field(*rule, DecodedText(utf8));
}

// With a `blocked` pattern, any page it matches is a block page. Without
// one, a result page that lists no account and whose title asks the client
// to prove itself is, as for the built-in site.
bool ProfileSite::blocked(std::string_view page, bool search_page, std::string_view keyword) const {
    if (profile_.blocked) {
        return !regex_search(profile_.blocked->compiled, DecodedText(gbk_to_utf8(page))).empty();
    }
    if (!search_page || !accounts(page).empty()) {
        return false;
    }
    return title_asks_to_verify(gbk_to_utf8(page_title(page)), keyword);
}

std::shared_ptr<const Site> load_site(const std::string& path, std::string* error) {
    return load_profile_site(path, error);
}

bool read_profile_text(const std::string& path, std::string* text, std::string* error) {
    // Read as the other files the user names are: a pipe or a device is
    // refused, not waited on or read without end.
    text->clear();
    std::string why;
    if (!read_small_file(path, kMaxProfileBytes, "site profile", text, &why)) {
        *error = path + ": cannot be read: " + why;
        return false;
    }
    return true;
}

std::shared_ptr<const ProfileSite> load_profile_site(const std::string& path, std::string* error) {
    std::string text;
    if (!read_profile_text(path, &text, error)) {
        return nullptr;
    }
    return profile_site_from_text(text, path, error);
}

std::shared_ptr<const ProfileSite> profile_site_from_text(std::string_view text,
                                                          const std::string& file_name,
                                                          std::string* error) {
    std::optional<SiteProfile> profile = load_site_profile(text, file_name, error);
    if (!profile) {
        return nullptr;
    }
    return std::make_shared<ProfileSite>(std::move(*profile));
}

}  // namespace qinglan
