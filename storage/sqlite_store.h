#pragma once

// The local database: <data dir>/date/lingshishuj.db, SQLite. The file is
// created with the empty table "123" on the first open that finds it
// missing, and the date folder with it. Every keyword table has the thirteen
// TEXT columns 编号, 地址, 公司名称, 用户账号, 电话, 传真, 称呼, 移动电话,
// 职位, 联系人, 邮编, 部门, 网站; 编号 is never written.
//
// The collection state of the keywords lives in the same file, in the two
// tables "MSysCollections" (a keyword's member list is saved or not) and
// "MSysCollectionMembers" (its members in page order and which are stored).
// Table names beginning with "MSys" have always been the database's own and
// never keywords, so the keyword tables, "123" and the table list stay as
// they were. A keyword the file cannot take as a table name of its own (one
// beginning with "MSys", or with SQLite's "sqlite_" in any letter case, or
// the name of one of the collector's tables in another letter case) gets a
// table "MSysKeywordN" listed in "MSysKeywordTables" (see sql_name.h).
// Keeping them in the one file is what lets a row and its
// member's state be written in one transaction: a WAL transaction spanning
// two files is not atomic as a whole.
//
// Values are bound, never spliced into SQL, and table names are quoted, so a
// keyword is only ever a name. The journal is a WAL and each member's row its
// own transaction: a crash loses at most the member in hand, and a kill at
// any instant leaves rows and state agreeing. Writes are serialised on one
// connection; reads use a second one, so loading a large table never holds
// up the collectors. Waits for a database held by another program last at
// most ten seconds, and give up at once after interrupt().
//
// A file this process may not write, or in a folder it may not write, is
// opened for reading only: nothing is written on the way (no journal mode,
// no table), the reads work, and every write fails saying the database is
// read-only. A WAL database whose folder cannot be written is read as
// immutable, since SQLite cannot make its shared index there.
//
// Claims of keywords go through date/lingshishuj.claims (see KeywordClaims),
// and each claim leaves its number in the column "claim" of
// MSysCollections, which a file from before claims left numbers gets on its
// first open. Two collectors on one data folder share the claims file, so
// one of them refuses a keyword the other holds; but a claims file deleted
// or replaced under a running collector lets a second one claim the keyword
// as well. Then the first finds another number in the state in the
// transaction of its next row, and stores nothing more of the keyword.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "storage/keyword_claims.h"
#include "storage/record_store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qinglan {

class SqliteStore final : public RecordStore {
public:
    // The database file under `data_dir`; nullptr with the reason in `error`
    // (which names the file) when it cannot be created or opened.
    static std::unique_ptr<SqliteStore> open(const std::string& data_dir, std::string* error);

    static std::string database_path(const std::string& data_dir);

    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    const std::string& path() const { return path_; }

    std::string location() const override { return path_; }
    using RecordStore::ensure_table;
    bool ensure_table(std::string_view table, std::string_view site, std::string* error) override;
    bool save_members_from(std::string_view table, int first,
                           const std::vector<std::string>& members, int next_page,
                           bool replace_rows, std::string* error) override;
    bool insert_record(std::string_view table, const ContactRecord& record, int member,
                       std::string* error) override;
    bool read_state(std::string_view table, CollectionState* state, std::string* error) override;
    bool forget(const std::vector<std::string>& tables, std::string* error) override;
    bool claim(std::string_view table, std::string* error) override;
    void release(std::string_view table) override;
    bool claim_lost(std::string_view table) override;
    void interrupt() override;
    bool read_table_names(std::vector<std::string>* names, std::string* error) override;
    bool read_rows(std::string_view table, const std::function<bool(ContactRecord&&)>& sink,
                   std::string* error) override;
    bool count_rows(std::string_view table, long long* count, std::string* error) override;
    bool import_table(std::string_view table, const std::vector<ContactRecord>& rows,
                      const CollectionState& state, std::string* error) override;

    // Runs one statement on the writing connection; for tests and tools.
    bool execute(const std::string& sql, std::string* error);

private:
    explicit SqliteStore(std::string path);

    bool connect(std::string* error);
    bool connect_read_only(std::string* error);
    static int busy_wait(void* store, int count);
    bool create_schema(std::string* error);
    bool add_state_columns(std::string* error);
    // False, saying so, when the file is open for reading only.
    bool writable(const std::string& doing, std::string* error) const;
    // The keyword's table on `db` (under its mutex), quoted; empty when
    // the keyword has none.
    static bool table_name(sqlite3* db, std::string_view table, std::string* quoted,
                           std::string* error);
    // Under write_mutex_ in a write transaction: makes the table and its
    // state unless the keyword has a table, or a table of its name exists in
    // another letter case (refused).
    bool create_table(std::string_view table, std::string_view site, bool* created,
                      std::string* error);
    // How a keyword without a numbered table stands against the tables
    // there: its table exists, it needs a new one under its own name or
    // under a number, or a table of its name in another letter case refuses it.
    enum class TableStanding { kFailed, kExists, kNew, kNewNumbered };
    TableStanding table_standing(std::string_view table, std::string* error);
    // Gives the keyword a number in the list of keyword tables; `name`
    // becomes the table that number names.
    bool number_table(std::string_view table, std::string* name, std::string* error);
    bool create_with_state(std::string_view table, const std::string& name, std::string_view site,
                           std::string* error);
    // Under write_mutex_ in a write transaction: drops the keyword's table
    // and its name, when it has them.
    bool drop_table(std::string_view table, std::string* error);
    // A statement of the writing connection, prepared once and kept; under write_mutex_.
    sqlite3_stmt* statement(const std::string& sql, std::string* error);
    sqlite3_stmt* insert_statement(std::string_view table, std::string* error);
    void drop_statements(std::string_view table);

    // Under write_mutex_ inside a write transaction: true when the keyword
    // is not claimed here or its claim stands; false with the reason, the
    // claim then counting as lost, when another collector claimed it since.
    bool claim_stands(std::string_view table, std::string* error);

    const std::string path_;
    bool read_only_ = false;
    std::atomic<bool> interrupted_{false};
    KeywordClaims claims_;
    // A file open for reading only is written by no task of this process:
    // its claims (for a copy) need no claims file beside it, which its
    // folder may not take.
    KeywordClaims reading_claims_{""};
    std::mutex write_mutex_;
    sqlite3* writer_ = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> statements_;  // by SQL, under write_mutex_
    std::unordered_map<std::string, sqlite3_stmt*> inserts_;     // by table, under write_mutex_
    ClaimNumbers claim_numbers_;                                 // under write_mutex_
    std::mutex read_mutex_;
    sqlite3* reader_ = nullptr;
};

}  // namespace qinglan
