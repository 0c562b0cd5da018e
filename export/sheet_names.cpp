#include "export/sheet_names.h"

#include <algorithm>
#include <string_view>

#include "services/text.h"
#include "services/utf8.h"

namespace qinglan {
namespace {

constexpr std::string_view kForbidden = "[]:*?/\\";

// `name` with forbidden characters replaced, cut to `limit` UTF-16 units at
// a character boundary.
std::string fitted(const std::string& name, std::size_t limit) {
    std::string out;
    std::size_t units = 0;
    for (std::size_t at = 0; at < name.size();) {
        char32_t code_point = 0;
        const std::size_t taken = decode_utf8(name, at, &code_point);
        const std::size_t width = code_point >= 0x10000 && code_point != kIllFormedUtf8 ? 2 : 1;
        if (units + width > limit) {
            break;
        }
        units += width;
        if (code_point < 0x20 || code_point == kIllFormedUtf8 ||
            (code_point < 0x80 &&
             kForbidden.find(static_cast<char>(code_point)) != std::string_view::npos)) {
            out += '_';
        } else {
            out.append(name, at, taken);
        }
        at += taken;
    }
    // Excel takes an apostrophe at either end for the quoting of a reference.
    if (!out.empty() && out.front() == '\'') {
        out.front() = '_';
    }
    if (!out.empty() && out.back() == '\'') {
        out.back() = '_';
    }
    return out;
}

}  // namespace

bool SheetNames::taken(const std::string& name) const {
    return std::find(folded_.begin(), folded_.end(), lower_ascii(name)) != folded_.end();
}

std::string SheetNames::add(const std::string& keyword) {
    std::string name = fitted(keyword, kMaxSheetNameLength);
    if (name.empty()) {
        name = "_";
    }
    if (lower_ascii(name) == "history") {
        name += '_';
    }
    for (int copy = 2; taken(name); ++copy) {
        const std::string suffix = " (" + std::to_string(copy) + ")";
        name = fitted(keyword, kMaxSheetNameLength - suffix.size()) + suffix;
    }
    folded_.push_back(lower_ascii(name));
    return name;
}

}  // namespace qinglan
