#include "engine/site/field_text.h"

#include <array>
#include <optional>

#include "engine/request.h"

namespace qinglan {
namespace {

bool is_blank_byte(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

int hex_value(char c) {
    if (is_digit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The four hexadecimal digits of a \u escape starting at `at`.
std::optional<char32_t> four_hex(std::string_view text, std::size_t at) {
    if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') {
        return std::nullopt;
    }
    char32_t value = 0;
    for (std::size_t k = at + 2; k < at + 6; ++k) {
        const int digit = hex_value(text[k]);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<char32_t>(digit);
    }
    return value;
}

// Decodes the \u escape at `at` into `out`; returns the bytes it took, 0
// when the escape is not one.
std::size_t decode_unicode_escape(std::string_view text, std::size_t at, std::string& out) {
    const std::optional<char32_t> unit = four_hex(text, at);
    if (!unit) {
        return 0;
    }
    if (*unit >= 0xD800 && *unit <= 0xDBFF) {
        const std::optional<char32_t> low = four_hex(text, at + 6);
        if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((*unit - 0xD800) << 10) + (*low - 0xDC00));
            return 12;
        }
    }
    if (*unit >= 0xD800 && *unit <= 0xDFFF) {
        append_utf8(out, 0xFFFD);
    } else {
        append_utf8(out, *unit);
    }
    return 6;
}

std::string decode_json_escapes(std::string_view text) {
    static constexpr std::string_view kFrom = "\"\\/bfnrt";
    static constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i++];
            continue;
        }
        const std::size_t simple = kFrom.find(text[i + 1]);
        if (simple != std::string_view::npos) {
            out += kTo[simple];
            i += 2;
        } else if (const std::size_t taken = decode_unicode_escape(text, i, out)) {
            i += taken;
        } else {
            out += text[i++];
        }
    }
    return out;
}

// Where the tag that starts at `at` ends (one past its `>`), or npos when
// no tag starts there or it never ends.
std::size_t tag_end(std::string_view text, std::size_t at) {
    if (at + 1 >= text.size()) {
        return std::string_view::npos;
    }
    const char next = text[at + 1];
    if (text.substr(at, 4) == "<!--") {
        const std::size_t close = text.find("-->", at + 4);
        return close == std::string_view::npos ? close : close + 3;
    }
    if (!is_ascii_letter(next) && next != '/' && next != '!' && next != '?') {
        return std::string_view::npos;
    }
    const std::size_t close = text.find('>', at + 1);
    return close == std::string_view::npos ? close : close + 1;
}

std::string remove_tags(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t end = text[i] == '<' ? tag_end(text, i) : std::string_view::npos;
        if (end != std::string_view::npos) {
            i = end;
        } else {
            out += text[i++];
        }
    }
    return out;
}

// The character of a numeric reference's digits; nothing for a reference to
// no character.
std::optional<char32_t> numeric_reference(std::string_view digits, bool hex) {
    if (digits.empty()) {
        return std::nullopt;
    }
    char32_t value = 0;
    for (const char c : digits) {
        const int digit = hex ? hex_value(c) : (is_digit(c) ? c - '0' : -1);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
        if (value > 0x10FFFF) {
            return std::nullopt;
        }
    }
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    return value;
}

// The character of the reference `&…;` whose inside is `name`.
std::optional<char32_t> reference_value(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, char32_t>, 6> kNamed = {{
        {"amp", '&'},
        {"lt", '<'},
        {"gt", '>'},
        {"quot", '"'},
        {"apos", '\''},
        {"nbsp", 0xA0},
    }};
    for (const auto& [named, value] : kNamed) {
        if (name == named) {
            return value;
        }
    }
    if (name.size() < 2 || name[0] != '#') {
        return std::nullopt;
    }
    const bool hex = name[1] == 'x' || name[1] == 'X';
    return numeric_reference(name.substr(hex ? 2 : 1), hex);
}

std::string decode_references(std::string_view text) {
    // Longer than any reference this decodes: &#x0010FFFF; with a few zeros.
    constexpr std::size_t kLongest = 32;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t semicolon =
            text[i] == '&' ? text.substr(i, kLongest).find(';') : std::string_view::npos;
        const std::optional<char32_t> value =
            semicolon == std::string_view::npos
                ? std::nullopt
                : reference_value(text.substr(i + 1, semicolon - 1));
        if (value) {
            append_utf8(out, *value);
            i += semicolon + 1;
        } else {
            out += text[i++];
        }
    }
    return out;
}

// The length of the blank that ends (at_end) or starts the text, 0 if none.
std::size_t blank_at(std::string_view text, bool at_end) {
    static constexpr std::string_view kWide[] = {"\xC2\xA0", "\xE3\x80\x80"};
    if (text.empty()) {
        return 0;
    }
    if (is_blank_byte(at_end ? text.back() : text.front())) {
        return 1;
    }
    for (const std::string_view wide : kWide) {
        if (text.size() >= wide.size() &&
            text.substr(at_end ? text.size() - wide.size() : 0, wide.size()) == wide) {
            return wide.size();
        }
    }
    return 0;
}

std::string trim_field_blanks(std::string_view text) {
    while (const std::size_t n = blank_at(text, false)) {
        text.remove_prefix(n);
    }
    while (const std::size_t n = blank_at(text, true)) {
        text.remove_suffix(n);
    }
    return std::string(text);
}

}  // namespace

bool is_json_page(std::string_view page) {
    if (page.substr(0, 3) == "\xEF\xBB\xBF") {
        page.remove_prefix(3);
    }
    std::size_t i = 0;
    while (i < page.size() && is_blank_byte(page[i])) {
        ++i;
    }
    if (i == page.size()) {
        return false;
    }
    if (page[i] == '{' || page[i] == '[') {
        return true;
    }
    if (!is_ascii_letter(page[i]) && page[i] != '_' && page[i] != '$') {
        return false;
    }
    while (i < page.size() && (is_ascii_letter(page[i]) || is_digit(page[i]) || page[i] == '_' ||
                               page[i] == '$' || page[i] == '.')) {
        ++i;
    }
    while (i < page.size() && is_blank_byte(page[i])) {
        ++i;
    }
    return i < page.size() && page[i] == '(';
}

std::string clean_field_text(std::string_view group, bool json_page) {
    std::string text(group);
    if (json_page) {
        text = decode_json_escapes(text);
    }
    text = decode_references(remove_tags(text));
    std::erase(text, '\0');
    return trim_field_blanks(text);
}

}  // namespace qinglan

namespace qinglan {
namespace {

// Appends the value of placeholder `name`; false when the name is unknown.
bool append_placeholder(std::string& out, std::string_view name, const TemplateValues& values) {
    if (name == "search_host") {
        out += values.search_host;
    } else if (name == "member_host") {
        out += values.member_host;
    } else if (name == "contact_domain") {
        out += values.contact_domain;
    } else if (name == "keyword") {
        out += encode_keyword(values.keyword);
    } else if (name == "page") {
        out += std::to_string(values.page);
    } else if (name == "account") {
        out += values.account;
    } else {
        return false;
    }
    return true;
}

char fold_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Where `sought` first stands in `text`, ASCII letters compared without
// regard to case and other bytes as they are; npos when nowhere.
std::size_t find_folded(std::string_view text, std::string_view sought) {
    for (std::size_t at = 0; at + sought.size() <= text.size(); ++at) {
        std::size_t k = 0;
        while (k < sought.size() && fold_ascii(text[at + k]) == fold_ascii(sought[k])) {
            ++k;
        }
        if (k == sought.size()) {
            return at;
        }
    }
    return std::string_view::npos;
}

bool piece_asks_to_verify(std::string_view piece) {
    static constexpr std::string_view kWords[] = {
        "验证", "登录", "captcha", "verify", "login", "robot",
    };
    for (const std::string_view word : kWords) {
        if (find_folded(piece, word) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string fill_template(std::string_view address, const TemplateValues& values) {
    std::string out;
    out.reserve(address.size() + 64);
    for (std::size_t i = 0; i < address.size();) {
        const std::size_t close = address[i] == '{' ? address.find('}', i) : std::string_view::npos;
        if (close != std::string_view::npos &&
            append_placeholder(out, address.substr(i + 1, close - i - 1), values)) {
            i = close + 1;
        } else {
            out += address[i++];
        }
    }
    return out;
}

bool title_asks_to_verify(std::string_view title, std::string_view keyword) {
    if (keyword.empty()) {
        return piece_asks_to_verify(title);
    }
    for (;;) {
        const std::size_t cut = find_folded(title, keyword);
        if (piece_asks_to_verify(title.substr(0, cut))) {
            return true;
        }
        if (cut == std::string_view::npos) {
            return false;
        }
        title.remove_prefix(cut + keyword.size());
    }
}

}  // namespace qinglan
