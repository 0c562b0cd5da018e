#pragma once

// A table's name as an SQL identifier, in double quotes: any text, quotes
// included, names its own table and no other. Both databases read it so.
//
// And the naming rule both stores share: a keyword's table is named exactly
// by the keyword, as it always was, unless the database cannot take that
// name as a keyword's own. Names beginning with "MSys" are the collector's
// (its state tables and the tables below); each database adds the names it
// keeps for itself. Such a keyword is stored in a table "MSysKeywordN"
// instead, and the table "MSysKeywordTables" says which keyword each N
// holds; N is never given twice, so a keyword never reaches another's rows.

#include <string>
#include <string_view>

#include "services/text.h"

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

inline constexpr const char* kKeywordTables = "MSysKeywordTables";

// The collector's own names: never a keyword's table of its own name.
inline bool collector_name(std::string_view name) {
    return name.substr(0, 4) == "MSys";
}

// The table of the keyword numbered `number` in "MSysKeywordTables".
inline std::string mapped_table(std::string_view number) {
    return "MSysKeyword" + std::string(number);
}

}  // namespace qinglan
