#include "services/text_pattern.h"

#include <exception>

namespace qinglan {

bool regex_compile(TextPattern& pattern, std::string_view text, bool case_sensitive) {
    const boost::regex::flag_type flags =
        case_sensitive ? boost::regex::perl : boost::regex::perl | boost::regex::icase;
    try {
        pattern.regex_ = boost::make_u32regex(text.data(), text.data() + text.size(), flags);
        pattern.valid_ = true;
    } catch (const std::exception&) {
        // Ill-formed UTF-8 throws here as well as a pattern the engine rejects.
        pattern.regex_ = boost::u32regex();
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
    MatchResult result(match.size());
    for (std::size_t i = 0; i < match.size(); ++i) {
        const auto& group = match[static_cast<int>(i)];
        if (group.matched) {
            result[i] = {static_cast<std::size_t>(group.first - text.data()),
                         static_cast<std::size_t>(group.second - group.first), true};
        }
    }
    return result;
}

}  // namespace qinglan
