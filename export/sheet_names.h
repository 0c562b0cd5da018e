#pragma once

// Worksheet names for keywords, valid and unique as Excel requires: at most
// 31 characters, none of []:*?/\ or a control character, no apostrophe at
// either end, not the reserved "History", and no two alike when case is
// ignored. A keyword that breaks a rule gets "_" for each forbidden
// character and is cut to fit; a name already given gets " (2)", " (3)", …
// with its end cut to make room.

#include <string>
#include <vector>

namespace qinglan {

// The most characters (UTF-16 units, as Excel counts) of a sheet name.
inline constexpr std::size_t kMaxSheetNameLength = 31;

class SheetNames {
public:
    // The name for `keyword`, different from every name given before.
    std::string add(const std::string& keyword);

private:
    bool taken(const std::string& name) const;

    std::vector<std::string> folded_;  // the names given, in lower case
};

}  // namespace qinglan
