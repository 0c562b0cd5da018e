#pragma once

// Columns of the keywords' collection state ("MSysCollections") that
// databases made by earlier versions lack. Both stores add each missing one
// when they open a database, so a new column is one entry here. Each
// definition reads alike in SQLite and PostgreSQL, and its default is what
// a keyword stored before the column means: the programs of then go on using
// the database, as they never name these columns.

#include <string>
#include <string_view>

namespace qinglan {

struct StateColumn {
    std::string_view name;
    std::string_view definition;
};

inline constexpr StateColumn kAddedStateColumns[] = {
    // The result page to read next; 0 once the reading has ended.
    {"next_page", "INTEGER NOT NULL DEFAULT 0"},
};

inline constexpr int kAddedStateColumnCount =
    static_cast<int>(sizeof(kAddedStateColumns) / sizeof(kAddedStateColumns[0]));

// The names as an SQL list: "'next_page', …".
inline std::string added_state_column_names() {
    std::string names;
    for (const StateColumn& column : kAddedStateColumns) {
        names += (names.empty() ? "'" : ", '") + std::string(column.name) + "'";
    }
    return names;
}

}  // namespace qinglan
