#pragma once

// A site profile: what the collector knows about a marketplace, read from a
// file that its user can fix when the marketplace changes its pages. Loading
// checks the whole file before anything uses it; a profile that loads has
// every address template, page name and pattern it needs, so nothing later
// has to refuse it halfway through a collection.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/contact_record.h"
#include "services/text_pattern.h"

namespace qinglan {

enum class ProfileCharset { kUtf8, kGbk };

// A pattern as written in the file and as compiled (Perl syntax over the
// page's characters, a class of CJK characters included; `.`
// matching a line break too).
struct ProfilePattern {
    std::string text;
    TextPattern compiled;
};

// One page fetched for each member, e.g. `card = http://{member_host}/…`.
struct ProfilePage {
    std::string name;     // as written in [member]
    std::string address;  // template: hosts and {account}
};

// Where a field comes from: group 1 of the pattern's first match on one of
// the member's pages.
struct FieldRule {
    std::size_t page = 0;  // index into SiteProfile::member_pages
    ProfilePattern pattern;
};

struct SiteProfile {
    std::string name;
    ProfileCharset charset = ProfileCharset::kUtf8;
    std::string search_url;  // template: hosts, {keyword}, {page}
    int pages = 1;           // result pages read at most
    ProfilePattern account;  // group 1 of every match is an account
    std::optional<ProfilePattern> blocked;
    std::vector<ProfilePage> member_pages;  // in the order written
    // In record order; a field without a rule is empty (用户账号 is then the
    // account itself).
    std::array<std::optional<FieldRule>, kRecordFields> fields;
};

inline constexpr int kMaxProfilePages = 1000;

// The profile in `text` (the file's bytes), or nothing with `*error` set to
// "FILE:LINE: reason" (FILE being `file_name`, LINE the offending line: a
// key's for its value, a section header's for the section) or, for what the
// file lacks, "FILE: reason".
//
// The file is UTF-8 (a byte order mark at its start is skipped) of
// `[section]` headers and `key = value` lines; blanks around `=` and at line
// ends are ignored, and a comment starts at `;` or `#` at a line's start or
// after a space or tab. Section names, keys, member page names and the
// charset are matched without regard to ASCII case. Beyond what a profile
// must hold, it refuses: a line that is neither blank, a comment, a header
// nor a key line; a key before the first header; a section or key given
// twice; an empty value; a name that is "内置" (the built-in site's); a
// lone `{` or `}` in an address; a [member] address without {account} (it
// would fetch the same page for every member); a page name other than
// letters, digits and `_` (ASCII, or CJK ideographs); ill-formed UTF-8 and
// zero bytes. Required are [site] name and charset, [search] url and
// account, and one [member] page.
std::optional<SiteProfile> load_site_profile(std::string_view text, std::string_view file_name,
                                             std::string* error);

}  // namespace qinglan
