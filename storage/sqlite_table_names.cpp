// The SQLite store's names of keyword tables: which table holds a keyword,
// making one, dropping one, and the list of stored keywords.

#include <sqlite3.h>

#include <unordered_map>

#include "storage/sqlite_store.h"
#include "storage/sqlite_support.h"

namespace qinglan {

using namespace sqlite;

namespace {

// Names the file cannot give a keyword's table: the collector's, SQLite's
// own (it keeps "sqlite_" in any letter case), and any holding a NUL byte,
// which would end the name inside the SQL text.
bool must_map(std::string_view table) {
    return collector_name(table) || starts_ignoring_case(table, "sqlite_") ||
           table.find('\0') != std::string_view::npos;
}

// The number of the keyword's table in MSysKeywordTables, empty when it has
// none; a file of an earlier version, read as it is, may lack that table.
bool mapped_number(sqlite3* db, std::string_view table, std::string* number, std::string* error) {
    number->clear();
    sqlite3_stmt* lookup = nullptr;
    if (sqlite3_prepare_v2(
            db,
            ("SELECT number FROM " + quote_name(kKeywordTables) + " WHERE keyword = ?1").c_str(),
            -1, &lookup, nullptr) != SQLITE_OK) {
        return !has_table(db, kKeywordTables) ||
               fail_sqlite(error, db, "cannot look up the table of " + quote_name(table));
    }
    Finalizer finalizer{lookup};
    bind_text(lookup, 1, table);
    const int rc = sqlite3_step(lookup);
    if (rc == SQLITE_ROW) {
        *number = reinterpret_cast<const char*>(sqlite3_column_text(lookup, 0));
    }
    return rc == SQLITE_ROW || rc == SQLITE_DONE ||
           fail_sqlite(error, db, "cannot look up the table of " + quote_name(table));
}

}  // namespace

bool SqliteStore::table_name(sqlite3* db, std::string_view table, std::string* quoted,
                             std::string* error) {
    std::string number;
    if (!mapped_number(db, table, &number, error)) {
        return false;
    }
    if (!number.empty()) {
        *quoted = quote_name(mapped_table(number));
    } else if (must_map(table) ||
               // Another letter case of a collector's name is a keyword's
               // table only where a table has exactly its name (an earlier
               // version's), never the collector's table it folds into.
               (starts_ignoring_case(table, "msys") &&
                !has_table(db, std::string(table).c_str()))) {
        quoted->clear();
    } else {
        *quoted = quote_name(table);
    }
    return true;
}

SqliteStore::TableStanding SqliteStore::table_standing(std::string_view table, std::string* error) {
    // Table names ignore the case of ASCII letters: a keyword that differs
    // from a stored one only in case would write into that keyword's table.
    // One that differs so from the collector's or SQLite's own gets a table
    // of its own instead.
    sqlite3_stmt* lookup =
        statement("SELECT name FROM sqlite_master WHERE name = ?1 COLLATE NOCASE", error);
    if (lookup == nullptr) {
        return TableStanding::kFailed;
    }
    if (must_map(table)) {
        return TableStanding::kNewNumbered;
    }
    Resetter resetter{lookup};
    bind_text(lookup, 1, table);
    if (sqlite3_step(lookup) != SQLITE_ROW) {
        return TableStanding::kNew;
    }
    const auto* found = reinterpret_cast<const char*>(sqlite3_column_text(lookup, 0));
    const std::string existing = found != nullptr ? found : "";
    if (table == existing) {
        return TableStanding::kExists;
    }
    if (!must_map(existing)) {
        fail(error, "the table " + quote_name(existing) +
                        " exists, and table names do not tell letter case apart");
        return TableStanding::kFailed;
    }
    return TableStanding::kNewNumbered;
}

bool SqliteStore::number_table(std::string_view table, std::string* name, std::string* error) {
    sqlite3_stmt* add =
        statement("INSERT INTO " + quote_name(kKeywordTables) + " (keyword) VALUES (?1)", error);
    if (add == nullptr) {
        return false;
    }
    Resetter resetter{add};
    bind_text(add, 1, table);
    if (sqlite3_step(add) != SQLITE_DONE) {
        return fail_sqlite(error, writer_, "cannot name its table");
    }
    *name = mapped_table(std::to_string(sqlite3_last_insert_rowid(writer_)));
    return true;
}

bool SqliteStore::create_with_state(std::string_view table, const std::string& name,
                                    std::string_view site, std::string* error) {
    // The table and its state in one step: a table that exists has a state
    // from its first moment, or is one from before states were kept.
    sqlite3_stmt* state = nullptr;
    sqlite3_stmt* site_row = nullptr;
    if (!run(writer_, "CREATE TABLE " + quote_name(name) + " " + kCreateColumns, error) ||
        (state = statement("INSERT OR REPLACE INTO " + quote_name(kCollections) +
                               " (keyword, listed, claim) VALUES (?1, 0, ?2)",
                           error)) == nullptr ||
        (site_row = statement(
             "INSERT OR REPLACE INTO " + quote_name(kSites) + " (keyword, site) VALUES (?1, ?2)",
             error)) == nullptr) {
        return false;
    }
    Resetter reset_state{state};
    Resetter reset_site{site_row};
    bind_text(state, 1, table);
    sqlite3_bind_int64(state, 2, claim_numbers_.number_for(table));
    bind_text(site_row, 1, table);
    bind_text(site_row, 2, site);
    return (sqlite3_step(state) == SQLITE_DONE && sqlite3_step(site_row) == SQLITE_DONE) ||
           fail_sqlite(error, writer_, "cannot keep its state");
}

bool SqliteStore::create_table(std::string_view table, std::string_view site, bool* created,
                               std::string* error) {
    *created = false;
    std::string number;
    if (!mapped_number(writer_, table, &number, error)) {
        return false;
    }
    if (!number.empty()) {
        return true;
    }
    const TableStanding standing = table_standing(table, error);
    if (standing == TableStanding::kFailed) {
        return false;
    }
    if (standing == TableStanding::kExists) {
        return true;
    }
    std::string name(table);
    if (standing == TableStanding::kNewNumbered && !number_table(table, &name, error)) {
        return false;
    }
    *created = create_with_state(table, name, site, error);
    return *created;
}

bool SqliteStore::drop_table(std::string_view table, std::string* error) {
    std::string quoted;
    sqlite3_stmt* unmap =
        statement("DELETE FROM " + quote_name(kKeywordTables) + " WHERE keyword = ?1", error);
    if (unmap == nullptr || !table_name(writer_, table, &quoted, error)) {
        return false;
    }
    Resetter resetter{unmap};
    bind_text(unmap, 1, table);
    return (quoted.empty() || run(writer_, "DROP TABLE IF EXISTS " + quoted, error)) &&
           (sqlite3_step(unmap) == SQLITE_DONE || fail_sqlite(error, writer_, ""));
}

bool SqliteStore::ensure_table(std::string_view table, std::string_view site, std::string* error) {
    const std::string doing = "cannot create the table " + quote_name(table);
    if (!writable(doing, error)) {
        return false;
    }
    std::lock_guard lock(write_mutex_);
    std::string reason;
    bool created = false;
    WriteTransaction transaction(writer_);
    if (!transaction.begin(&reason) || !create_table(table, site, &created, &reason) ||
        (created && !transaction.commit(&reason))) {
        return fail(error, doing + ": " + reason);
    }
    if (created) {
        claim_numbers_.state_written(table, true);
    }
    return true;
}

}  // namespace qinglan
