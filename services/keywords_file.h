#pragma once

// Keyword files: a list of keywords, one a line, as a team keeps it in a
// text editor. The file is UTF-8, with or without a byte-order mark; a line
// ends at "\n" or "\r\n" and at nothing else, so a lone CR inside a line
// stays part of its keyword as it would on the command line. A line that is
// empty or holds only blanks (space, tab, and the ideographic space U+3000
// that a Chinese input method types in full-width mode), or whose first
// non-blank character is '#', is skipped. Every other line is a keyword
// exactly as written, blanks included.
//
// The file is refused whole, naming the line, when a line (a skipped one
// too: a comment that is not UTF-8 betrays a file saved in another
// encoding) is not UTF-8 text or holds a NUL byte, which no keyword can
// hold; and when it holds no keyword at all.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qinglan {

struct FileKeyword {
    std::string keyword;
    std::size_t line = 0;  // 1-based
};

// The largest keyword file read: far more keywords than anyone collects.
inline constexpr std::size_t kMaxKeywordsFileBytes = std::size_t{64} << 20;

// The keywords of a file's `text` in file order. False with "NAME:LINE:
// reason" for a bad line, "NAME: reason" for a file without keywords;
// `keywords` is left empty then.
bool parse_keywords_file(std::string_view text, const std::string& name,
                         std::vector<FileKeyword>* keywords, std::string* error);

// The same for the file at `path`. Only a regular file is read, so that a
// pipe or a device cannot hold the program up; false with "PATH: reason"
// when it cannot be read.
bool read_keywords_file(const std::string& path, std::vector<FileKeyword>* keywords,
                        std::string* error);

}  // namespace qinglan
