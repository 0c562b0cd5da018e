#pragma once

// Pattern matching on UTF-8 text (Perl syntax) whose characters are Unicode
// characters: a non-ASCII character in a pattern, inside a class too, is one
// character, and `.` steps over a whole character. Patterns that users write
// for a marketplace's pages are of this kind; the built-in rules keep their
// byte patterns (services/pattern.h). Offsets in a match result are bytes
// from the first byte of the whole text, as there. Nothing here throws: a
// pattern the engine rejects compiles to false, and a search that fails
// (nothing found, a range outside the text, text that is not UTF-8, the
// engine's complexity limit) gives an empty match result.

#include <boost/regex/icu.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "services/pattern.h"

namespace qinglan {

// Holds one compiled pattern; each regex_compile replaces it.
class TextPattern {
public:
    bool valid() const { return valid_; }
    const boost::u32regex& regex() const { return regex_; }

private:
    friend bool regex_compile(TextPattern& pattern, std::string_view text, bool case_sensitive);
    friend MatchResult regex_search(const TextPattern&, const class DecodedText&, std::size_t);
    boost::u32regex regex_;
    // UTF-8 text that every match starts with, when the pattern says so
    // plainly: a search jumps to where it stands instead of trying every
    // character of a page in front of it.
    std::string prefix_;
    bool valid_ = false;
};

// False for a pattern that is not well-formed UTF-8 or does not compile.
bool regex_compile(TextPattern& pattern, std::string_view text, bool case_sensitive = true);

// The first match inside the byte range of `length` bytes from position
// `start` (1-based; a negative length means the rest of the text). The
// range's ends count as the ends of the text and of a line; a range must
// start and end on character boundaries.
MatchResult regex_search(const TextPattern& pattern, std::string_view text, int start = 1,
                         int length = -1);

// UTF-8 text decoded once for many searches: each search then steps over
// whole characters without decoding them again. An ill-formed sequence reads
// as U+FFFD. The text must outlive this.
class DecodedText {
public:
    explicit DecodedText(std::string_view utf8);
    std::string_view utf8() const { return utf8_; }

private:
    friend MatchResult regex_search(const TextPattern&, const DecodedText&, std::size_t);
    std::string_view utf8_;
    std::vector<UChar32> characters_;
    std::vector<std::size_t> offsets_;  // of each character in utf8_, then utf8_.size()
};

// The first match from byte offset `from` (rounded up to a character) to
// the end, which count as the ends of the text and of a line; offsets as
// above, in the UTF-8 text.
MatchResult regex_search(const TextPattern& pattern, const DecodedText& text, std::size_t from = 0);

}  // namespace qinglan
