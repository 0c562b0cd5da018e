#include "services/keywords_file.h"

#include "services/small_file.h"
#include "services/utf8.h"

namespace qinglan {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";

// Where the line's first non-blank character starts; npos for none.
std::size_t first_non_blank(std::string_view line) {
    std::size_t at = 0;
    while (at < line.size()) {
        if (line[at] == ' ' || line[at] == '\t') {
            ++at;
        } else if (line.substr(at, kIdeographicSpace.size()) == kIdeographicSpace) {
            at += kIdeographicSpace.size();
        } else {
            return at;
        }
    }
    return std::string_view::npos;
}

// Why the line can be no keyword; empty when it can.
std::string line_fault(std::string_view line) {
    const std::size_t nul = line.find('\0');
    const std::size_t ill_formed = ill_formed_utf8_at(line);
    if (nul < ill_formed) {
        return "the line holds a NUL byte (byte " + std::to_string(nul + 1) + ")";
    }
    if (ill_formed != std::string_view::npos) {
        return "the line is not UTF-8 text (byte " + std::to_string(ill_formed + 1) + ")";
    }
    return {};
}

}  // namespace

bool parse_keywords_file(std::string_view text, const std::string& name,
                         std::vector<FileKeyword>* keywords, std::string* error) {
    keywords->clear();
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    std::size_t line_number = 0;
    for (std::size_t at = 0; at < text.size();) {
        ++line_number;
        const std::size_t end = text.find('\n', at);
        std::string_view line = text.substr(at, end == std::string_view::npos ? end : end - at);
        at = end == std::string_view::npos ? text.size() : end + 1;
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (const std::string fault = line_fault(line); !fault.empty()) {
            keywords->clear();
            *error = name + ":" + std::to_string(line_number) + ": " + fault;
            return false;
        }
        const std::size_t first = first_non_blank(line);
        if (first != std::string_view::npos && line[first] != '#') {
            keywords->push_back({std::string(line), line_number});
        }
    }
    if (keywords->empty()) {
        *error = name + ": the file holds no keyword (only empty lines, blanks and comments)";
        return false;
    }
    return true;
}

bool read_keywords_file(const std::string& path, std::vector<FileKeyword>* keywords,
                        std::string* error) {
    keywords->clear();
    std::string text, why;
    if (!read_small_file(path, kMaxKeywordsFileBytes, "keyword file", &text, &why)) {
        *error = path + ": cannot be read: " + why;
        return false;
    }
    return parse_keywords_file(text, path, keywords, error);
}

}  // namespace qinglan
