#pragma once

// Pattern matching on Boost.Regex (Perl syntax, one byte per character).
// Positions are 1-based on the way in; a match result holds byte offsets from
// the first byte of the whole searched text. Nothing here throws: a pattern
// the engine rejects compiles to false, and a search that fails (nothing
// found, a range outside the text, the engine's complexity limit) gives an
// empty match result, whose every group reads as the empty text.

#include <boost/regex.hpp>

#include <string_view>
#include <vector>

#include "services/text.h"

namespace qinglan {

// Holds one compiled pattern; each regex_compile replaces it.
class Pattern {
public:
    bool valid() const { return valid_; }
    const boost::regex& regex() const { return regex_; }

private:
    friend bool regex_compile(Pattern& pattern, std::string_view text, bool case_sensitive);
    boost::regex regex_;
    bool valid_ = false;
};

struct MatchEntry {
    std::size_t offset = 0;  // from the first byte of the whole text
    std::size_t length = 0;
    bool matched = false;
};

// Entry 0 is the whole match, entry k capture group k; empty when nothing
// matched.
using MatchResult = std::vector<MatchEntry>;

bool regex_compile(Pattern& pattern, std::string_view text, bool case_sensitive = true);

// The first match inside the byte range of `length` bytes from position
// `start` (a negative length means the rest of the text). The range's ends
// count as the ends of the text and of a line.
MatchResult regex_search(const Pattern& pattern, std::string_view text, int start = 1,
                         int length = -1);

// The bytes of entry `index` cut out of `text`; the empty text when the entry
// is missing or did not take part in the match.
Text submatch_text(const MatchResult& match, std::string_view text, int index);

// The groups of an engine's match over text starting at `base`, as offsets
// from `base`; a group that took no part is left unmatched.
template <typename EngineMatch>
MatchResult match_result(const EngineMatch& match, const char* base) {
    MatchResult result(match.size());
    for (std::size_t i = 0; i < match.size(); ++i) {
        const auto& group = match[static_cast<int>(i)];
        if (group.matched) {
            result[i] = {static_cast<std::size_t>(group.first - base),
                         static_cast<std::size_t>(group.second - group.first), true};
        }
    }
    return result;
}

}  // namespace qinglan
