#include "engine/site/site_profile.h"

#include <algorithm>
#include <cstddef>
#include <set>

#include "engine/site/field_text.h"
#include "services/text.h"
#include "services/utf8.h"

namespace qinglan {
namespace {

constexpr std::string_view kSections[] = {"site", "search", "member", "fields"};
constexpr std::string_view kBuiltInName = "内置";

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The line without its comment: from a `;` or `#` at its start or after a
// blank. A pattern that needs a blank before one of them writes `[ ];`.
std::string_view strip_comment(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if ((line[i] == ';' || line[i] == '#') && (i == 0 || is_blank(line[i - 1]))) {
            return line.substr(0, i);
        }
    }
    return line;
}

// Page names are words: ASCII letters, digits and `_`, or CJK ideographs.
bool valid_page_name(std::string_view name) {
    for (std::size_t at = 0; at < name.size();) {
        char32_t c = 0;
        at += decode_utf8(name, at, &c);
        const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || (c >= 0x4E00 && c <= 0x9FFF) ||
                          (c >= 0x3400 && c <= 0x4DBF);
        if (!word) {
            return false;
        }
    }
    return !name.empty();
}

// One `key = value` line of the file, key in lower case.
struct Entry {
    std::size_t line = 0;
    std::string key;
    std::string written_key;
    std::string value;
};

class ProfileReader {
public:
    ProfileReader(std::string_view file_name, std::string* error)
        : file_name_(file_name), error_(error) {}

    bool read_lines(std::string_view text);
    // The profile once the whole file has been read.
    bool finish(SiteProfile* profile);

private:
    bool fail(std::size_t line, const std::string& reason);
    bool read_line(std::size_t number, std::string_view line);
    bool read_header(std::size_t number, std::string_view line);
    bool take_entry(const Entry& entry);
    bool take_site(const Entry& entry);
    bool take_search(const Entry& entry);
    bool take_member(const Entry& entry);
    bool take_field(const Entry& entry);
    bool resolve_field_pages();
    bool check_address(const Entry& entry, std::string_view where, bool search);
    bool compile(const Entry& entry, bool needs_group, ProfilePattern* pattern);
    bool check_complete();

    std::string file_name_;
    std::string* error_;
    std::string section_;  // in lower case; empty before the first header
    std::set<std::string> seen_sections_;
    std::set<std::pair<std::string, std::string>> seen_keys_;
    SiteProfile profile_;
    // The page each field names and its line, looked up once [member] has
    // been read whole, wherever it stands in the file.
    std::vector<std::pair<Entry, std::size_t>> field_pages_;
};

bool ProfileReader::fail(std::size_t line, const std::string& reason) {
    *error_ = file_name_ + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + reason;
    return false;
}

bool ProfileReader::read_lines(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    for (std::size_t number = 1; !text.empty(); ++number) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!read_line(number, line)) {
            return false;
        }
    }
    return true;
}

bool ProfileReader::read_line(std::size_t number, std::string_view line) {
    if (line.find('\0') != std::string_view::npos) {
        return fail(number, "a zero byte");
    }
    if (ill_formed_utf8_at(line) != std::string_view::npos) {
        return fail(number, "not UTF-8 text");
    }
    line = trim(strip_comment(line));
    if (line.empty()) {
        return true;
    }
    if (line.front() == '[') {
        return read_header(number, line);
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return fail(number, "neither a [section] header nor a key = value line");
    }
    Entry entry{number, lower_ascii(trim(line.substr(0, equals))),
                std::string(trim(line.substr(0, equals))),
                std::string(trim(line.substr(equals + 1)))};
    if (section_.empty()) {
        return fail(number, "a key before the first [section] header");
    }
    if (entry.key.empty()) {
        return fail(number, "a value without its key");
    }
    if (!seen_keys_.emplace(section_, entry.key).second) {
        return fail(number, entry.written_key + " is given twice in [" + section_ + "]");
    }
    if (entry.value.empty()) {
        return fail(number, entry.written_key + " has no value");
    }
    return take_entry(entry);
}

bool ProfileReader::read_header(std::size_t number, std::string_view line) {
    if (line.back() != ']') {
        return fail(number, "a [section] header must end in ]");
    }
    const std::string name = lower_ascii(trim(line.substr(1, line.size() - 2)));
    if (std::find(std::begin(kSections), std::end(kSections), name) == std::end(kSections)) {
        return fail(number, "unknown section " + std::string(line));
    }
    if (!seen_sections_.insert(name).second) {
        return fail(number, "section [" + name + "] is given twice");
    }
    section_ = name;
    return true;
}

bool ProfileReader::take_entry(const Entry& entry) {
    if (section_ == "site") {
        return take_site(entry);
    }
    if (section_ == "search") {
        return take_search(entry);
    }
    return section_ == "member" ? take_member(entry) : take_field(entry);
}

bool ProfileReader::finish(SiteProfile* profile) {
    if (!resolve_field_pages() || !check_complete()) {
        return false;
    }
    *profile = std::move(profile_);
    return true;
}

bool ProfileReader::take_site(const Entry& entry) {
    if (entry.key == "name") {
        if (entry.value == kBuiltInName) {
            return fail(entry.line, "the name " + entry.value + " is the built-in site's");
        }
        profile_.name = entry.value;
        return true;
    }
    if (entry.key == "charset") {
        const std::string charset = lower_ascii(entry.value);
        if (charset != "utf-8" && charset != "gbk") {
            return fail(entry.line, "charset is " + entry.value + ", not utf-8 or gbk");
        }
        profile_.charset = charset == "gbk" ? ProfileCharset::kGbk : ProfileCharset::kUtf8;
        return true;
    }
    return fail(entry.line, "unknown key " + entry.written_key + " in [site]");
}

bool ProfileReader::take_search(const Entry& entry) {
    if (entry.key == "url") {
        profile_.search_url = entry.value;
        return check_address(entry, "[search] url", true);
    }
    if (entry.key == "pages") {
        const std::string& v = entry.value;
        const bool digits = v.size() <= 4 && std::all_of(v.begin(), v.end(), [](char c) {
                                return c >= '0' && c <= '9';
                            });
        const int pages = digits ? std::stoi(v) : 0;
        if (pages < 1 || pages > kMaxProfilePages) {
            return fail(entry.line, "pages is " + v + ", not a number from 1 to 1000");
        }
        profile_.pages = pages;
        return true;
    }
    if (entry.key == "account") {
        return compile(entry, true, &profile_.account);
    }
    if (entry.key == "blocked") {
        return compile(entry, false, &profile_.blocked.emplace());
    }
    return fail(entry.line, "unknown key " + entry.written_key + " in [search]");
}

bool ProfileReader::take_member(const Entry& entry) {
    if (!valid_page_name(entry.written_key)) {
        return fail(entry.line,
                    "the page name " + entry.written_key + " is not made of letters, digits and _");
    }
    if (!check_address(entry, "[member] addresses", false)) {
        return false;
    }
    if (entry.value.find("{account}") == std::string::npos) {
        return fail(entry.line, "the address of page " + entry.written_key + " has no {account}");
    }
    profile_.member_pages.push_back({entry.written_key, entry.value});
    return true;
}

bool ProfileReader::take_field(const Entry& entry) {
    const auto column =
        std::find(kRecordColumnNames.begin(), kRecordColumnNames.end(), entry.written_key);
    if (column == kRecordColumnNames.end()) {
        return fail(entry.line, "unknown field " + entry.written_key);
    }
    const std::size_t blank = entry.value.find_first_of(" \t");
    if (blank == std::string::npos) {
        return fail(entry.line, entry.written_key + " needs a page name, a blank and a pattern");
    }
    FieldRule rule;
    Entry pattern = entry;
    pattern.value = entry.value.substr(blank + 1);
    if (!compile(pattern, true, &rule.pattern)) {
        return false;
    }
    const auto field = static_cast<std::size_t>(column - kRecordColumnNames.begin());
    profile_.fields[field] = std::move(rule);
    Entry page = entry;
    page.value = entry.value.substr(0, blank);
    field_pages_.emplace_back(std::move(page), field);
    return true;
}

bool ProfileReader::resolve_field_pages() {
    const auto& pages = profile_.member_pages;
    for (const auto& [entry, field] : field_pages_) {
        const std::string sought = lower_ascii(entry.value);
        const auto found = std::find_if(pages.begin(), pages.end(), [&](const ProfilePage& p) {
            return lower_ascii(p.name) == sought;
        });
        if (found == pages.end()) {
            return fail(entry.line, entry.written_key + " names the page " + entry.value +
                                        ", which [member] lacks");
        }
        profile_.fields[field]->page = static_cast<std::size_t>(found - pages.begin());
    }
    return true;
}

bool ProfileReader::check_address(const Entry& entry, std::string_view where, bool search) {
    const std::string& address = entry.value;
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (address[i] != '{' && address[i] != '}') {
            continue;
        }
        const std::size_t close = address[i] == '{' ? address.find_first_of("{}", i + 1) : i;
        if (close == std::string::npos || address[close] != '}' || close == i) {
            return fail(entry.line, "a { or } that opens or closes no placeholder");
        }
        const std::string_view name = std::string_view(address).substr(i + 1, close - i - 1);
        const std::string written = "{" + std::string(name) + "}";
        if (std::find(std::begin(kPlaceholderNames), std::end(kPlaceholderNames), name) ==
            std::end(kPlaceholderNames)) {
            return fail(entry.line, "unknown placeholder " + written);
        }
        const bool search_only = name == "keyword" || name == "page";
        if ((search && name == "account") || (!search && search_only)) {
            return fail(entry.line, written + " cannot stand in " + std::string(where));
        }
        i = close;
    }
    if (search && address.find("{keyword}") == std::string::npos) {
        return fail(entry.line, "the url has no {keyword}");
    }
    return true;
}

bool ProfileReader::compile(const Entry& entry, bool needs_group, ProfilePattern* pattern) {
    pattern->text = entry.value;
    if (!regex_compile(pattern->compiled, entry.value)) {
        return fail(entry.line, "the pattern of " + entry.written_key + " does not compile");
    }
    if (needs_group && pattern->compiled.regex().mark_count() < 1) {
        return fail(entry.line, "the pattern of " + entry.written_key + " has no group 1");
    }
    return true;
}

// What a profile cannot do without; the file has no line to name for it.
bool ProfileReader::check_complete() {
    const auto has = [&](std::string_view section, std::string_view key) {
        return seen_keys_.count({std::string(section), std::string(key)}) > 0;
    };
    for (const auto& [section, key] : {std::pair{"site", "name"},
                                       {"site", "charset"},
                                       {"search", "url"},
                                       {"search", "account"}}) {
        if (!has(section, key)) {
            return fail(0, std::string("[") + section + "] has no " + key);
        }
    }
    if (profile_.member_pages.empty()) {
        return fail(0, "[member] names no page");
    }
    return true;
}

}  // namespace

std::optional<SiteProfile> load_site_profile(std::string_view text, std::string_view file_name,
                                             std::string* error) {
    ProfileReader reader(file_name, error);
    SiteProfile profile;
    if (!reader.read_lines(text) || !reader.finish(&profile)) {
        return std::nullopt;
    }
    error->clear();
    return profile;
}

}  // namespace qinglan
