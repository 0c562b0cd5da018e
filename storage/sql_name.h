#pragma once

// A table's name as an SQL identifier, in double quotes: any text, quotes
// included, names its own table and no other. Both databases read it so.

#include <string>
#include <string_view>

namespace qinglan {

inline std::string quote_name(std::string_view name) {
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    quoted += '"';
    return quoted;
}

}  // namespace qinglan
