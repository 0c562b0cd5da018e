#pragma once

// Small pieces the SQLite store's files share.

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "services/failure.h"
#include "storage/sql_name.h"
#include "storage/state_columns.h"

namespace qinglan::sqlite {

// The tables of the collection state; "MSys" keeps them out of the table list.
inline constexpr const char* kCollections = "MSysCollections";
inline constexpr const char* kMembers = "MSysCollectionMembers";
// The site each keyword was collected from; a keyword without a row here was
// collected from the built-in one.
inline constexpr const char* kSites = "MSysCollectionSites";

// Columns the state got after its first version: the claims' numbers, then
// those of state_columns.h. A file from before one of them lacks it.
inline constexpr int kLaterStateColumns = 1 + kAddedStateColumnCount;

// How many of those columns the state has: kLaterStateColumns when none is
// missing.
inline std::string count_later_state_columns() {
    return "SELECT count(*) FROM pragma_table_info('MSysCollections') WHERE name IN ('claim', " +
           added_state_column_names() + ")";
}

// The table columns in their stored order; 编号 comes first and stays empty.
inline constexpr const char* kCreateColumns =
    "(\"编号\" TEXT, \"地址\" TEXT, \"公司名称\" TEXT, \"用户账号\" TEXT, \"电话\" TEXT, "
    "\"传真\" TEXT, \"称呼\" TEXT, \"移动电话\" TEXT, \"职位\" TEXT, \"联系人\" TEXT, "
    "\"邮编\" TEXT, \"部门\" TEXT, \"网站\" TEXT)";

using qinglan::kKeywordTables;
using qinglan::quote_name;

inline bool fail_sqlite(std::string* error, sqlite3* db, const std::string& doing) {
    return fail(error, doing + ": " + sqlite3_errmsg(db));
}

inline bool run(sqlite3* db, const std::string& sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string reason = message != nullptr ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        return fail(error, reason);
    }
    return true;
}

// Whether the file holds a table of exactly this name: a file of an earlier
// version, opened for reading only, may lack the collector's newer tables.
inline bool has_table(sqlite3* db, const char* name) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1", -1,
                           &statement, nullptr) != SQLITE_OK) {
        return false;
    }
    sqlite3_bind_text(statement, 1, name, -1, SQLITE_STATIC);
    const bool found = sqlite3_step(statement) == SQLITE_ROW;
    sqlite3_finalize(statement);
    return found;
}

// Whether the table has a column of this name: the state of a file of an
// earlier version lacks its newer columns.
inline bool has_column(sqlite3* db, const char* table, std::string_view column) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2", -1,
                           &statement, nullptr) != SQLITE_OK) {
        return false;
    }
    sqlite3_bind_text(statement, 1, table, -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 2, column.data(), static_cast<int>(column.size()), SQLITE_STATIC);
    const bool found = sqlite3_step(statement) == SQLITE_ROW;
    sqlite3_finalize(statement);
    return found;
}

inline void bind_text(sqlite3_stmt* statement, int index, std::string_view text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// Closes a statement when it goes out of scope.
struct Finalizer {
    sqlite3_stmt* statement;
    ~Finalizer() { sqlite3_finalize(statement); }
};

// Resets a kept statement when it goes out of scope, so it holds no lock.
struct Resetter {
    sqlite3_stmt* statement;
    ~Resetter() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
};

// A write transaction, taken at once (BEGIN IMMEDIATE) so a busy database
// is waited for at its start, not half-way; rolled back unless committed.
class WriteTransaction {
public:
    explicit WriteTransaction(sqlite3* db) : db_(db) {}
    ~WriteTransaction() {
        if (open_) {
            run(db_, "ROLLBACK", nullptr);
        }
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    bool begin(std::string* error) {
        open_ = run(db_, "BEGIN IMMEDIATE", error);
        return open_;
    }
    bool commit(std::string* error) {
        if (!run(db_, "COMMIT", error)) {
            return false;
        }
        open_ = false;
        return true;
    }

private:
    sqlite3* db_;
    bool open_ = false;
};

}  // namespace qinglan::sqlite
