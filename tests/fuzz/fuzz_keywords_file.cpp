// Keyword files, whatever a user's editor saved. A taken keyword is one
// well-formed UTF-8 line of the file without its line end, never blank and
// never a comment, in file order; a refused file names itself and keeps
// nothing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "services/keywords_file.h"

namespace {

using qinglan::fuzz::check;

// The keyword's first character that is neither a space, a tab nor U+3000.
char first_shown(std::string_view keyword) {
    std::size_t at = 0;
    while (at < keyword.size()) {
        if (keyword[at] == ' ' || keyword[at] == '\t') {
            ++at;
        } else if (keyword.substr(at, 3) == "\xE3\x80\x80") {
            at += 3;
        } else {
            return keyword[at];
        }
    }
    return '\0';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<qinglan::FileKeyword> keywords;
    std::string error;
    if (!qinglan::parse_keywords_file(text, "f", &keywords, &error)) {
        check(error.rfind("f:", 0) == 0);
        check(keywords.empty());
        return 0;
    }
    check(!keywords.empty());
    std::size_t lines = 1;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    std::size_t last_line = 0;
    std::size_t searched_from = 0;
    for (const qinglan::FileKeyword& keyword : keywords) {
        check(keyword.line > last_line && keyword.line <= lines);
        last_line = keyword.line;
        check(qinglan::fuzz::valid_utf8(keyword.keyword));
        check(keyword.keyword.find('\n') == std::string::npos);
        check(keyword.keyword.find('\0') == std::string::npos);
        const char first = first_shown(keyword.keyword);
        check(first != '\0' && first != '#');
        // Each keyword stands in the file, after the one before it.
        const std::size_t at = text.find(keyword.keyword, searched_from);
        check(at != std::string_view::npos);
        searched_from = at + keyword.keyword.size();
    }
    return 0;
}
