// The SQLite store's copy of a keyword from another store: its table, its
// rows and its collection state, all at once or not at all.

#include <sqlite3.h>

#include "storage/sqlite_store.h"
#include "storage/sqlite_support.h"

namespace qinglan {

using namespace sqlite;

bool SqliteStore::import_table(std::string_view table, const std::vector<ContactRecord>& rows,
                               const CollectionState& state, std::string* error) {
    if (!writable("cannot copy into " + quote_name(table), error)) {
        return false;
    }
    std::lock_guard lock(write_mutex_);
    const std::string doing = "cannot copy into " + quote_name(table) + ": ";
    std::string reason;
    bool created = false;
    WriteTransaction transaction(writer_);
    if (!transaction.begin(&reason) || !create_table(table, state.site, &created, &reason)) {
        return fail(error, doing + reason);
    }
    if (!created) {
        return fail(error, doing + "the table exists");
    }
    sqlite3_stmt* insert = insert_statement(table, &reason);
    if (insert == nullptr) {
        return fail(error, doing + reason);
    }
    for (const ContactRecord& record : rows) {
        Resetter resetter{insert};
        for (int i = 0; i < kRecordFields; ++i) {
            bind_text(insert, i + 1, record[static_cast<std::size_t>(i)]);
        }
        if (sqlite3_step(insert) != SQLITE_DONE) {
            fail_sqlite(error, writer_, doing);
            drop_statements(table);
            return false;
        }
    }
    sqlite3_stmt* listed = statement("UPDATE " + quote_name(kCollections) +
                                         " SET listed = ?2, next_page = ?3 WHERE keyword = ?1",
                                     &reason);
    sqlite3_stmt* untracked =
        statement("DELETE FROM " + quote_name(kCollections) + " WHERE keyword = ?1", &reason);
    sqlite3_stmt* add =
        statement("INSERT INTO " + quote_name(kMembers) +
                      " (keyword, position, account, stored) VALUES (?1, ?2, ?3, ?4)",
                  &reason);
    if (listed == nullptr || untracked == nullptr || add == nullptr) {
        return fail(error, doing + reason);
    }
    auto step = [&](sqlite3_stmt* statement, auto&& bind) {
        Resetter resetter{statement};
        bind_text(statement, 1, table);
        bind(statement);
        return sqlite3_step(statement) == SQLITE_DONE;
    };
    bool copied = state.tracked ? step(listed,
                                       [&](sqlite3_stmt* statement) {
                                           sqlite3_bind_int(statement, 2, state.listed ? 1 : 0);
                                           sqlite3_bind_int(statement, 3, state.next_page);
                                       })
                                : step(untracked, [](sqlite3_stmt*) {});
    for (std::size_t i = 0; copied && state.tracked && i < state.members.size(); ++i) {
        copied = step(add, [&](sqlite3_stmt* statement) {
            const std::string& account = state.members[i];
            sqlite3_bind_int(statement, 2, static_cast<int>(i));
            sqlite3_bind_blob(statement, 3, account.data(), static_cast<int>(account.size()),
                              SQLITE_STATIC);
            sqlite3_bind_int(statement, 4, i < state.stored.size() && state.stored[i] ? 1 : 0);
        });
    }
    if (!copied) {
        return fail_sqlite(error, writer_, doing);
    }
    if (!transaction.commit(&reason)) {
        return fail(error, doing + reason);
    }
    claim_numbers_.state_written(table, state.tracked);
    return true;
}

}  // namespace qinglan
