// The SQLite store's writes of rows together with the collection state, and
// the reads and deletions of that state.

#include <sqlite3.h>

#include "storage/sqlite_store.h"
#include "storage/sqlite_support.h"

namespace qinglan {

using namespace sqlite;

namespace {

// The name of the site the keyword was collected from, into `site`; it stays
// the built-in one for a keyword without a name kept, and in a file from
// before names were kept.
bool read_site(sqlite3* db, std::string_view table, std::string* site, std::string* error) {
    sqlite3_stmt* read = nullptr;
    if (sqlite3_prepare_v2(
            db, ("SELECT site FROM " + quote_name(kSites) + " WHERE keyword = ?1").c_str(), -1,
            &read, nullptr) != SQLITE_OK) {
        return !has_table(db, kSites) || fail_sqlite(error, db, "cannot read its site");
    }
    Finalizer finalize{read};
    bind_text(read, 1, table);
    const int rc = sqlite3_step(read);
    if (rc == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(read, 0));
        *site = name != nullptr ? name : "";
    }
    return rc == SQLITE_ROW || rc == SQLITE_DONE || fail_sqlite(error, db, "cannot read its site");
}

// The keyword's member list in page order, with which members are stored;
// false on a failed read, the reason left to the database's message.
bool read_members(sqlite3* db, std::string_view table, CollectionState* state) {
    sqlite3_stmt* members = nullptr;
    if (sqlite3_prepare_v2(db,
                           ("SELECT account, stored FROM " + quote_name(kMembers) +
                            " WHERE keyword = ?1 ORDER BY position")
                               .c_str(),
                           -1, &members, nullptr) != SQLITE_OK) {
        return false;
    }
    Finalizer finalize_members{members};
    bind_text(members, 1, table);
    int step;
    while ((step = sqlite3_step(members)) == SQLITE_ROW) {
        const auto* account = static_cast<const char*>(sqlite3_column_blob(members, 0));
        state->members.emplace_back(account != nullptr ? account : "",
                                    static_cast<std::size_t>(sqlite3_column_bytes(members, 0)));
        state->stored.push_back(sqlite3_column_int(members, 1) != 0);
    }
    return step == SQLITE_DONE;
}

}  // namespace

sqlite3_stmt* SqliteStore::insert_statement(std::string_view table, std::string* error) {
    const auto found = inserts_.find(std::string(table));
    if (found != inserts_.end()) {
        return found->second;
    }
    std::string quoted;
    if (!table_name(writer_, table, &quoted, error) ||
        (quoted.empty() &&
         !fail(error, "cannot store into " + quote_name(table) + ": no table is stored for it"))) {
        return nullptr;
    }
    std::string sql = "INSERT INTO " + quoted + " (";
    for (int i = 0; i < kRecordFields; ++i) {
        sql += (i == 0 ? "\"" : ",\"") + std::string(kRecordColumnNames[i]) + "\"";
    }
    sql += ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?)";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(writer_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        fail_sqlite(error, writer_, "cannot store into " + quote_name(table));
        return nullptr;
    }
    inserts_.emplace(std::string(table), statement);
    return statement;
}

void SqliteStore::drop_statements(std::string_view table) {
    const auto found = inserts_.find(std::string(table));
    if (found != inserts_.end()) {
        sqlite3_finalize(found->second);
        inserts_.erase(found);
    }
}

bool SqliteStore::insert_record(std::string_view table, const ContactRecord& record, int member,
                                std::string* error) {
    std::lock_guard lock(write_mutex_);
    const std::string doing = "cannot store a row into " + quote_name(table);
    if (!writable(doing, error)) {
        return false;
    }
    std::string reason;
    WriteTransaction transaction(writer_);
    sqlite3_stmt* insert = insert_statement(table, error);
    if (insert == nullptr) {
        return false;
    }
    if (!transaction.begin(&reason) || !claim_stands(table, &reason)) {
        return fail(error, doing + ": " + reason);
    }
    bool inserted;
    {
        Resetter resetter{insert};
        for (int i = 0; i < kRecordFields; ++i) {
            bind_text(insert, i + 1, record[static_cast<std::size_t>(i)]);
        }
        inserted = sqlite3_step(insert) == SQLITE_DONE || fail_sqlite(error, writer_, doing);
    }
    if (!inserted) {
        // A statement whose table went away is prepared anew next time.
        drop_statements(table);
        return false;
    }
    if (member >= 0) {
        sqlite3_stmt* mark = statement("UPDATE " + quote_name(kMembers) +
                                           " SET stored = 1 WHERE keyword = ?1 AND position = ?2",
                                       &reason);
        if (mark == nullptr) {
            return fail(error, doing + ": " + reason);
        }
        Resetter resetter{mark};
        bind_text(mark, 1, table);
        sqlite3_bind_int(mark, 2, member);
        if (sqlite3_step(mark) != SQLITE_DONE) {
            return fail_sqlite(error, writer_, doing);
        }
    }
    if (!transaction.commit(&reason)) {
        return fail(error, doing + ": " + reason);
    }
    return true;
}

bool SqliteStore::save_members_from(std::string_view table, int first,
                                    const std::vector<std::string>& members, int next_page,
                                    bool replace_rows, std::string* error) {
    std::lock_guard lock(write_mutex_);
    const std::string doing = "cannot save the member list of " + quote_name(table);
    if (!writable(doing, error)) {
        return false;
    }
    std::string reason, quoted;
    WriteTransaction transaction(writer_);
    if (!transaction.begin(&reason) || !claim_stands(table, &reason) ||
        (replace_rows && (!table_name(writer_, table, &quoted, &reason) ||
                          (!quoted.empty() && !run(writer_, "DELETE FROM " + quoted, &reason))))) {
        return fail(error, doing + ": " + reason);
    }
    sqlite3_stmt* clear = statement(
        "DELETE FROM " + quote_name(kMembers) + " WHERE keyword = ?1 AND position >= ?2", &reason);
    sqlite3_stmt* add =
        statement("INSERT INTO " + quote_name(kMembers) +
                      " (keyword, position, account, stored) VALUES (?1, ?2, ?3, 0)",
                  &reason);
    // A new list leaves the claim's number in the state; a later page's
    // accounts only move the reading on.
    sqlite3_stmt* listed =
        first == 0 ? statement("INSERT INTO " + quote_name(kCollections) +
                                   " (keyword, listed, claim, next_page) VALUES (?1, 1, ?2, ?3)"
                                   " ON CONFLICT (keyword) DO UPDATE SET listed = 1,"
                                   " claim = ?2, next_page = ?3",
                               &reason)
                   : statement("UPDATE " + quote_name(kCollections) +
                                   " SET next_page = ?3 WHERE keyword = ?1",
                               &reason);
    if (clear == nullptr || add == nullptr || listed == nullptr) {
        return fail(error, doing + ": " + reason);
    }
    auto step = [&](sqlite3_stmt* statement, auto&& bind) {
        Resetter resetter{statement};
        bind_text(statement, 1, table);
        bind(statement);
        return sqlite3_step(statement) == SQLITE_DONE;
    };
    const long long number = claim_numbers_.number_for(table);
    bool saved = step(clear, [&](sqlite3_stmt* s) { sqlite3_bind_int(s, 2, first); }) &&
                 step(listed, [&](sqlite3_stmt* s) {
                     sqlite3_bind_int64(s, 2, number);
                     sqlite3_bind_int(s, 3, next_page);
                 });
    for (std::size_t i = 0; saved && i < members.size(); ++i) {
        saved = step(add, [&](sqlite3_stmt* s) {
            sqlite3_bind_int(s, 2, first + static_cast<int>(i));
            sqlite3_bind_blob(s, 3, members[i].data(), static_cast<int>(members[i].size()),
                              SQLITE_STATIC);
        });
    }
    if (!saved) {
        return fail_sqlite(error, writer_, doing);
    }
    if (!transaction.commit(&reason)) {
        return fail(error, doing + ": " + reason);
    }
    if (first == 0) {
        claim_numbers_.state_written(table, true);
    }
    return true;
}

bool SqliteStore::read_state(std::string_view table, CollectionState* state, std::string* error) {
    std::lock_guard lock(read_mutex_);
    *state = CollectionState();
    const std::string doing = "cannot read the collection state of " + quote_name(table);
    // One read transaction, so the flag and the list agree with each other.
    if (!run(reader_, "BEGIN", error)) {
        return false;
    }
    struct EndRead {
        sqlite3* db;
        ~EndRead() { run(db, "COMMIT", nullptr); }
    } end_read{reader_};
    // A file of an earlier version, read as it is, may lack the column of
    // the page to read next: its keywords had all their pages read.
    const std::string next_page =
        has_column(reader_, kCollections, "next_page") ? "next_page" : "0";
    sqlite3_stmt* listed = nullptr;
    if (sqlite3_prepare_v2(reader_,
                           ("SELECT listed, " + next_page + " FROM " + quote_name(kCollections) +
                            " WHERE keyword = ?1")
                               .c_str(),
                           -1, &listed, nullptr) != SQLITE_OK) {
        // One older still keeps no state.
        return !has_table(reader_, kCollections) || fail_sqlite(error, reader_, doing);
    }
    Finalizer finalize_listed{listed};
    bind_text(listed, 1, table);
    const int rc = sqlite3_step(listed);
    if (rc == SQLITE_DONE) {
        return true;  // untracked
    }
    if (rc != SQLITE_ROW) {
        return fail_sqlite(error, reader_, doing);
    }
    state->tracked = true;
    state->listed = sqlite3_column_int(listed, 0) != 0;
    state->next_page = sqlite3_column_int(listed, 1);
    if (!read_site(reader_, table, &state->site, error)) {
        return false;
    }
    if (!state->listed) {
        return true;
    }
    return read_members(reader_, table, state) || fail_sqlite(error, reader_, doing);
}

bool SqliteStore::forget(const std::vector<std::string>& tables, std::string* error) {
    std::lock_guard lock(write_mutex_);
    if (!writable("cannot delete the keywords", error)) {
        return false;
    }
    std::string reason;
    WriteTransaction transaction(writer_);
    bool done = transaction.begin(&reason);
    for (const std::string& table : tables) {
        if (!done) {
            break;
        }
        // A kept statement on the table would stand in the way of dropping it.
        drop_statements(table);
        done = drop_table(table, &reason);
        for (const char* state : {kCollections, kMembers, kSites}) {
            sqlite3_stmt* remove =
                done
                    ? statement("DELETE FROM " + quote_name(state) + " WHERE keyword = ?1", &reason)
                    : nullptr;
            if (remove == nullptr) {
                done = false;
                break;
            }
            Resetter resetter{remove};
            bind_text(remove, 1, table);
            done = sqlite3_step(remove) == SQLITE_DONE || fail_sqlite(&reason, writer_, "");
        }
    }
    if (!done || !transaction.commit(&reason)) {
        return fail(error, "cannot delete the keywords: " + reason);
    }
    for (const std::string& table : tables) {
        claim_numbers_.state_written(table, false);
    }
    return true;
}

bool SqliteStore::claim(std::string_view table, std::string* error) {
    if (!(read_only_ ? reading_claims_ : claims_).claim(table, error)) {
        return false;
    }
    std::lock_guard lock(write_mutex_);
    const long long number = new_claim_number();
    if (read_only_ || sqlite3_db_readonly(writer_, "main") == 1) {
        // Nothing can be written through this store, so none of its writes
        // needs the number; reading needs no write access.
        claim_numbers_.claimed(table, number, false);
        return true;
    }
    std::string reason;
    WriteTransaction transaction(writer_);
    sqlite3_stmt* mark = nullptr;
    bool marked = transaction.begin(&reason) &&
                  (mark = statement(
                       "UPDATE " + quote_name(kCollections) + " SET claim = ?2 WHERE keyword = ?1",
                       &reason)) != nullptr;
    bool in_state = false;
    if (marked) {
        Resetter resetter{mark};
        bind_text(mark, 1, table);
        sqlite3_bind_int64(mark, 2, number);
        marked = sqlite3_step(mark) == SQLITE_DONE;
        if (!marked) {
            reason = sqlite3_errmsg(writer_);
        }
        in_state = sqlite3_changes(writer_) > 0;
    }
    if (!marked || !transaction.commit(&reason)) {
        claims_.release(table);
        return fail(error, "cannot claim it in " + path_ + ": " + reason);
    }
    claim_numbers_.claimed(table, number, in_state);
    return true;
}

void SqliteStore::release(std::string_view table) {
    {
        std::lock_guard lock(write_mutex_);
        claim_numbers_.released(table);
    }
    (read_only_ ? reading_claims_ : claims_).release(table);
}

bool SqliteStore::claim_lost(std::string_view table) {
    std::lock_guard lock(write_mutex_);
    return claim_numbers_.lost(table);
}

bool SqliteStore::claim_stands(std::string_view table, std::string* error) {
    if (!claim_numbers_.held(table)) {
        return true;
    }
    sqlite3_stmt* read = statement("SELECT coalesce((SELECT claim FROM " +
                                       quote_name(kCollections) + " WHERE keyword = ?1), -1)",
                                   error);
    if (read == nullptr) {
        return false;
    }
    Resetter resetter{read};
    bind_text(read, 1, table);
    if (sqlite3_step(read) != SQLITE_ROW) {
        return fail_sqlite(error, writer_, "cannot read the keyword's claim");
    }
    return claim_numbers_.stands(table, sqlite3_column_int64(read, 0), error);
}

}  // namespace qinglan
