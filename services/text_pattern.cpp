#include "services/text_pattern.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <vector>

#include "services/utf8.h"

namespace qinglan {
namespace {

// The literal characters a pattern starts with, if every match must start
// with them: none under case-insensitive matching or with an alternation
// anywhere (a conservative test), and a last character that a quantifier
// follows is not part of them.
std::string literal_prefix(std::string_view text, bool case_sensitive) {
    if (!case_sensitive || text.find('|') != std::string_view::npos) {
        return {};
    }
    constexpr std::string_view kSpecial = "\\^$.|?*+()[]{}";
    std::size_t end = text.find_first_of(kSpecial);
    if (end == std::string_view::npos) {
        end = text.size();
    }
    if (end < text.size() && std::string_view("?*+{").find(text[end]) != std::string_view::npos) {
        while (end > 0 && (static_cast<unsigned char>(text[end - 1]) & 0xC0) == 0x80) {
            --end;  // a continuation byte of the character to drop
        }
        end = end > 0 ? end - 1 : 0;
    }
    return std::string(text.substr(0, end));
}

// The pattern as the engine parses it: its characters, then a few zeros.
// The engine's parser reads one character past the end of some unfinished
// sets ("[a\\", "[a-b"); in this buffer that read lands on a zero, which
// means nothing to it, rather than past the memory. Empty for ill-formed
// UTF-8.
constexpr std::size_t kPadding = 4;

std::vector<UChar32> padded_characters(std::string_view text) {
    std::vector<UChar32> characters;
    characters.reserve(text.size() + kPadding);
    for (std::size_t at = 0; at < text.size();) {
        char32_t code_point = 0;
        at += decode_utf8(text, at, &code_point);
        if (code_point == kIllFormedUtf8) {
            return {};
        }
        characters.push_back(static_cast<UChar32>(code_point));
    }
    characters.resize(characters.size() + kPadding, 0);
    return characters;
}

}  // namespace

bool regex_compile(TextPattern& pattern, std::string_view text, bool case_sensitive) {
    const boost::regex::flag_type flags =
        case_sensitive ? boost::regex::perl : boost::regex::perl | boost::regex::icase;
    const std::vector<UChar32> characters = padded_characters(text);
    try {
        if (characters.empty()) {
            throw std::invalid_argument("ill-formed UTF-8");
        }
        const UChar32* first = characters.data();
        pattern.regex_ = boost::u32regex(first, first + characters.size() - kPadding, flags);
        pattern.prefix_ = literal_prefix(text, case_sensitive);
        pattern.valid_ = true;
    } catch (const std::exception&) {
        // Ill-formed UTF-8 throws here as well as a pattern the engine rejects.
        pattern.regex_ = boost::u32regex();
        pattern.prefix_.clear();
        pattern.valid_ = false;
    }
    return pattern.valid_;
}

MatchResult regex_search(const TextPattern& pattern, std::string_view text, int start, int length) {
    const long long n = static_cast<long long>(text.size());
    const long long span = length < 0 ? n - start + 1 : length;
    if (!pattern.valid() || start < 1 || start > n || start + span > n + 1) {
        return {};
    }
    const char* first = text.data() + (start - 1);
    const char* last = first + span;
    boost::match_results<const char*> match;
    try {
        if (!boost::u32regex_search(first, last, match, pattern.regex(), boost::match_default)) {
            return {};
        }
    } catch (const std::exception&) {
        // Text that is not UTF-8, or matching beyond the engine's limits.
        return {};
    }
    return match_result(match, text.data());
}

DecodedText::DecodedText(std::string_view utf8) : utf8_(utf8) {
    characters_.reserve(utf8.size());
    offsets_.reserve(utf8.size() + 1);
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t code_point = 0;
        const std::size_t length = decode_utf8(utf8, at, &code_point);
        characters_.push_back(code_point == kIllFormedUtf8 ? 0xFFFD
                                                           : static_cast<UChar32>(code_point));
        offsets_.push_back(at);
        at += length;
    }
    offsets_.push_back(utf8.size());
}

MatchResult regex_search(const TextPattern& pattern, const DecodedText& text, std::size_t from) {
    // As for the text searched as it is, a range must hold a byte.
    if (!pattern.valid() || from >= text.utf8_.size()) {
        return {};
    }
    std::size_t jump = from;
    if (!pattern.prefix_.empty()) {
        jump = text.utf8_.find(pattern.prefix_, from);
        if (jump == std::string_view::npos) {
            return {};
        }
    }
    const auto at = [&](std::size_t offset) {
        const auto found = std::lower_bound(text.offsets_.begin(), text.offsets_.end(), offset);
        return text.characters_.data() + (found - text.offsets_.begin());
    };
    const UChar32* base = text.characters_.data();
    // Jumped to the prefix, the search still sees the range before it (a
    // lookbehind, \b) but, as always, nothing before the range.
    const UChar32* range = at(from);
    const UChar32* first = at(jump);
    const UChar32* last = base + text.characters_.size();
    boost::match_results<const UChar32*> match;
    try {
        if (!boost::u32regex_search(first, last, match, pattern.regex(), boost::match_default,
                                    range)) {
            return {};
        }
    } catch (const std::exception&) {
        return {};  // matching beyond the engine's limits
    }
    MatchResult result(match.size());
    for (std::size_t i = 0; i < match.size(); ++i) {
        const auto& group = match[static_cast<int>(i)];
        if (group.matched) {
            const std::size_t begin = text.offsets_[static_cast<std::size_t>(group.first - base)];
            const std::size_t end = text.offsets_[static_cast<std::size_t>(group.second - base)];
            result[i] = {begin, end - begin, true};
        }
    }
    return result;
}

}  // namespace qinglan
