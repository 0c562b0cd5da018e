#include "services/pattern.h"

#include <exception>

namespace qinglan {

bool regex_compile(Pattern& pattern, std::string_view text, bool case_sensitive) {
    const boost::regex::flag_type flags =
        case_sensitive ? boost::regex::perl : boost::regex::perl | boost::regex::icase;
    try {
        pattern.regex_.assign(text.begin(), text.end(), flags);
        pattern.valid_ = true;
    } catch (const std::exception&) {
        pattern.regex_ = boost::regex();
        pattern.valid_ = false;
    }
    return pattern.valid_;
}

MatchResult regex_search(const Pattern& pattern, std::string_view text, int start, int length) {
    const long long n = static_cast<long long>(text.size());
    const long long span = length < 0 ? n - start + 1 : length;
    if (!pattern.valid() || start < 1 || start > n || start + span > n + 1) {
        return {};
    }
    const char* first = text.data() + (start - 1);
    const char* last = first + span;
    boost::cmatch match;
    try {
        if (!boost::regex_search(first, last, match, pattern.regex(), boost::match_default)) {
            return {};
        }
    } catch (const std::exception&) {
        // The engine gives up on matching that grows beyond its limits.
        return {};
    }
    return match_result(match, text.data());
}

Text submatch_text(const MatchResult& match, std::string_view text, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= match.size()) {
        return {};
    }
    const MatchEntry& entry = match[static_cast<std::size_t>(index)];
    if (!entry.matched || entry.offset > text.size()) {
        return {};
    }
    return Text(text.substr(entry.offset, entry.length));
}

}  // namespace qinglan
