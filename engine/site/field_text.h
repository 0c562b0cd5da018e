#pragma once

// The text work a site profile does around its patterns: turning a pattern's
// group into a field's text, filling an address template, and telling a
// search page that asks for verification or login from an answer. All of it
// works on UTF-8 text and is pure: no page is fetched, nothing fails.

#include <string>
#include <string_view>

namespace qinglan {

// True for a page that carries JSON: its first byte other than a blank
// (space, tab, CR, LF; a UTF-8 byte order mark is skipped too) is `{` or
// `[`, or the page starts with a callback name (letters, digits, `_`, `$`
// and `.`, not starting with a digit) followed by `(`, blanks allowed
// between them.
bool is_json_page(std::string_view page);

// The text of a field cut out of a page, cleaned in this order:
// - on a JSON page the string escapes are decoded: \" \\ \/ \b \f \n \r \t
//   and \uXXXX (a surrogate pair as the one character it stands for, a lone
//   surrogate as U+FFFD); any other backslash, and a \u without four
//   hexadecimal digits, stays as written;
// - HTML tags are removed: `<` followed by a letter, `/`, `!` or `?` up to
//   the next `>` (a comment up to its `-->`); a `<` that starts no tag, or
//   whose tag does not end, stays;
// - character references are decoded once: &amp; &lt; &gt; &quot; &apos;
//   &nbsp; and &#N; &#xH; (x and the digits in either case); a reference to
//   no character (zero, a surrogate, above U+10FFFF) or without its `;`
//   stays as written;
// - blanks are trimmed at both ends: space, tab, CR, LF, U+00A0, U+3000.
// Zero bytes are left out, as everywhere a value is cut from a page.
std::string clean_field_text(std::string_view group, bool json_page);

// The values an address template's placeholders stand for. `keyword` holds
// the keyword's bytes in the profile's charset.
struct TemplateValues {
    std::string_view search_host;     // {search_host}, HOST[:PORT]
    std::string_view member_host;     // {member_host}
    std::string_view contact_domain;  // {contact_domain}
    std::string_view keyword;         // {keyword}, every byte as %XX
    int page = 1;                     // {page}, decimal
    std::string_view account;         // {account}, as it is
};

// The placeholder names an address template may hold, for the profile's
// checks; `page`, `keyword` and `account` are allowed only where the
// profile's rules say.
inline constexpr std::string_view kPlaceholderNames[] = {
    "search_host", "member_host", "contact_domain", "keyword", "page", "account",
};

// The address with every known placeholder replaced by its value. Anything
// else, braces included, is copied as written (a loaded profile holds no
// other placeholder).
std::string fill_template(std::string_view address, const TemplateValues& values);

// True when a search page's title, with every occurrence of the keyword cut
// out (ASCII letters matched in either case, so that a search for "Login"
// is not taken for a login page), holds 验证, 登录, captcha, verify, login or robot (ASCII letters
// in either case). The pieces around a cut keyword are looked at one by one, so a word split by the
// keyword is not one of them. Only a page that lists no account is to be asked about.
bool title_asks_to_verify(std::string_view title, std::string_view keyword);

}  // namespace qinglan
