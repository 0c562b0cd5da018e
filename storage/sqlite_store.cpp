#include "storage/sqlite_store.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>

#include "services/failure.h"
#include "storage/sqlite_support.h"

namespace qinglan {
namespace {

using namespace sqlite;

// How long a write waits for a database another program holds.
constexpr int kBusyTimeoutMs = 10000;
constexpr int kBusyStepMs = 10;

// The table columns in their stored order; 编号 comes first and stays empty.
constexpr const char* kCreateColumns =
    "(\"编号\" TEXT, \"地址\" TEXT, \"公司名称\" TEXT, \"用户账号\" TEXT, \"电话\" TEXT, "
    "\"传真\" TEXT, \"称呼\" TEXT, \"移动电话\" TEXT, \"职位\" TEXT, \"联系人\" TEXT, "
    "\"邮编\" TEXT, \"部门\" TEXT, \"网站\" TEXT)";

sqlite3* open_connection(const std::string& path, int flags, std::string* error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        fail(error,
             "cannot open " + path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    return db;
}

}  // namespace

std::string SqliteStore::database_path(const std::string& data_dir) {
    return (std::filesystem::path(data_dir) / "date" / "lingshishuj.db").string();
}

std::unique_ptr<SqliteStore> SqliteStore::open(const std::string& data_dir, std::string* error) {
    const std::string path = database_path(data_dir);
    const auto folder = std::filesystem::path(path).parent_path();
    std::error_code fs_error;
    std::filesystem::create_directories(folder, fs_error);
    if (fs_error) {
        fail(error, "cannot create the folder " + folder.string() + " for " + path + ": " +
                        fs_error.message());
        return nullptr;
    }
    std::unique_ptr<SqliteStore> store(new SqliteStore(path));
    if (!store->connect(error)) {
        return nullptr;
    }
    return store;
}

SqliteStore::SqliteStore(std::string path)
    : path_(std::move(path)), claims_(path_.substr(0, path_.size() - 3) + ".claims") {}

SqliteStore::~SqliteStore() {
    for (auto* kept : {&statements_, &inserts_}) {
        for (auto& [key, statement] : *kept) {
            sqlite3_finalize(statement);
        }
    }
    sqlite3_close(reader_);
    sqlite3_close(writer_);
}

bool SqliteStore::connect(std::string* error) {
    writer_ = open_connection(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
    if (writer_ == nullptr) {
        return false;
    }
    sqlite3_busy_handler(writer_, busy_wait, this);
    std::string reason;
    // Reading the schema tells a database from any other file at once.
    if (!run(writer_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", &reason) ||
        !run(writer_, "SELECT count(*) FROM sqlite_master", &reason)) {
        return fail(error, "cannot open " + path_ + ": " + reason);
    }
    reader_ = open_connection(path_, SQLITE_OPEN_READONLY, error);
    if (reader_ == nullptr) {
        return false;
    }
    sqlite3_busy_handler(reader_, busy_wait, this);
    if (!create_schema(&reason)) {
        return fail(error, "cannot create the first tables in " + path_ + ": " + reason);
    }
    return true;
}

int SqliteStore::busy_wait(void* store, int count) {
    const auto* self = static_cast<const SqliteStore*>(store);
    if (self->interrupted_.load() || count * kBusyStepMs >= kBusyTimeoutMs) {
        return 0;
    }
    sqlite3_sleep(kBusyStepMs);
    return 1;
}

void SqliteStore::interrupt() {
    interrupted_ = true;
}

// Several collectors may open a new file at the same moment: every table is
// made only if missing, inside one write transaction. A database without
// any table is a new one, even where its file exists: a program killed just
// after creating the file leaves it empty.
bool SqliteStore::create_schema(std::string* error) {
    std::lock_guard lock(write_mutex_);
    const std::string names = "'" + std::string(kCollections) + "','" + kMembers + "'";
    bool with_first_table = false;
    {
        // Finished before the transaction begins: a read still open would
        // make the write wait on itself when another collector wrote first.
        sqlite3_stmt* count = nullptr;
        if (sqlite3_prepare_v2(writer_,
                               ("SELECT count(name IN (" + names + ") OR NULL), count(*), (" +
                                kCountClaimColumn + ") FROM sqlite_master")
                                   .c_str(),
                               -1, &count, nullptr) != SQLITE_OK) {
            return fail(error, sqlite3_errmsg(writer_));
        }
        Finalizer finalizer{count};
        // A file that cannot be written is read as it is: without the
        // column, no claim of it needs one, as nothing is stored.
        if (sqlite3_step(count) == SQLITE_ROW && sqlite3_column_int(count, 0) == 2 &&
            (sqlite3_column_int(count, 2) == 1 || sqlite3_db_readonly(writer_, "main") == 1)) {
            return true;
        }
        with_first_table = sqlite3_column_int(count, 1) == 0;
    }
    WriteTransaction transaction(writer_);
    return transaction.begin(error) &&
           (!with_first_table ||
            run(writer_, std::string("CREATE TABLE IF NOT EXISTS \"123\" ") + kCreateColumns,
                error)) &&
           run(writer_,
               "CREATE TABLE IF NOT EXISTS " + quote_name(kCollections) +
                   " (keyword TEXT PRIMARY KEY, listed INTEGER NOT NULL,"
                   " claim INTEGER NOT NULL DEFAULT 0);"
                   "CREATE TABLE IF NOT EXISTS " +
                   quote_name(kMembers) +
                   " (keyword TEXT NOT NULL, position INTEGER NOT NULL, account BLOB NOT NULL,"
                   " stored INTEGER NOT NULL, PRIMARY KEY (keyword, position)) WITHOUT ROWID",
               error) &&
           add_claim_column(error) && transaction.commit(error);
}

// A file from before claims left numbers in the state gets their column;
// the programs of then go on using the file, as they never name it.
bool SqliteStore::add_claim_column(std::string* error) {
    sqlite3_stmt* count = nullptr;
    if (sqlite3_prepare_v2(writer_, kCountClaimColumn, -1, &count, nullptr) != SQLITE_OK) {
        return fail(error, sqlite3_errmsg(writer_));
    }
    Finalizer finalizer{count};
    if (sqlite3_step(count) != SQLITE_ROW) {
        return fail(error, sqlite3_errmsg(writer_));
    }
    return sqlite3_column_int(count, 0) == 1 ||
           run(writer_,
               "ALTER TABLE " + quote_name(kCollections) +
                   " ADD COLUMN claim INTEGER NOT NULL DEFAULT 0",
               error);
}

bool SqliteStore::execute(const std::string& sql, std::string* error) {
    std::lock_guard lock(write_mutex_);
    return run(writer_, sql, error);
}

sqlite3_stmt* SqliteStore::statement(const std::string& sql, std::string* error) {
    const auto found = statements_.find(sql);
    if (found != statements_.end()) {
        return found->second;
    }
    sqlite3_stmt* prepared = nullptr;
    if (sqlite3_prepare_v2(writer_, sql.c_str(), -1, &prepared, nullptr) != SQLITE_OK) {
        fail(error, sqlite3_errmsg(writer_));
        return nullptr;
    }
    statements_.emplace(sql, prepared);
    return prepared;
}

bool SqliteStore::check_name(std::string_view table, std::string* error) {
    const std::string quoted = quote_name(table);
    // SQLite keeps names beginning with "sqlite_" for itself, in any case,
    // and the collection state has two tables of its own.
    if (table.size() >= 7 && sqlite3_strnicmp(table.data(), "sqlite_", 7) == 0) {
        return fail(error, "cannot create the table " + quoted +
                               ": names beginning with sqlite_ are reserved by the database");
    }
    for (const char* own : {kCollections, kMembers}) {
        if (sqlite3_stricmp(std::string(table).c_str(), own) == 0) {
            return fail(error, "cannot create the table " + quoted +
                                   ": the name is reserved for the collection state");
        }
    }
    return true;
}

bool SqliteStore::create_table(std::string_view table, bool* created, std::string* error) {
    *created = false;
    // Table names ignore the case of ASCII letters: a keyword that differs
    // from a stored one only in case would write into that keyword's table.
    sqlite3_stmt* lookup =
        statement("SELECT name FROM sqlite_master WHERE name = ?1 COLLATE NOCASE", error);
    if (lookup == nullptr) {
        return false;
    }
    {
        Resetter resetter{lookup};
        bind_text(lookup, 1, table);
        if (sqlite3_step(lookup) == SQLITE_ROW) {
            const auto* existing = reinterpret_cast<const char*>(sqlite3_column_text(lookup, 0));
            if (existing != nullptr && table == existing) {
                return true;
            }
            return fail(error, "the table " + quote_name(existing != nullptr ? existing : "") +
                                   " exists, and table names do not tell letter case apart");
        }
    }
    // The table and its state in one step: a table that exists has a state
    // from its first moment, or is one from before states were kept.
    sqlite3_stmt* state = nullptr;
    if (!run(writer_, "CREATE TABLE " + quote_name(table) + " " + kCreateColumns, error) ||
        (state = statement("INSERT OR REPLACE INTO " + quote_name(kCollections) +
                               " (keyword, listed, claim) VALUES (?1, 0, ?2)",
                           error)) == nullptr) {
        return false;
    }
    Resetter resetter{state};
    bind_text(state, 1, table);
    sqlite3_bind_int64(state, 2, claim_numbers_.number_for(table));
    *created =
        sqlite3_step(state) == SQLITE_DONE || fail_sqlite(error, writer_, "cannot keep its state");
    return *created;
}

bool SqliteStore::ensure_table(std::string_view table, std::string* error) {
    if (!check_name(table, error)) {
        return false;
    }
    std::lock_guard lock(write_mutex_);
    std::string reason;
    bool created = false;
    WriteTransaction transaction(writer_);
    if (!transaction.begin(&reason) || !create_table(table, &created, &reason) ||
        (created && !transaction.commit(&reason))) {
        return fail(error, "cannot create the table " + quote_name(table) + ": " + reason);
    }
    if (created) {
        claim_numbers_.state_written(table, true);
    }
    return true;
}

bool SqliteStore::read_table_names(std::vector<std::string>* names, std::string* error) {
    std::lock_guard lock(read_mutex_);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(reader_,
                           "SELECT name FROM sqlite_master WHERE type='table' ORDER BY rowid", -1,
                           &statement, nullptr) != SQLITE_OK) {
        return fail_sqlite(error, reader_, "cannot list the tables of " + path_);
    }
    Finalizer finalizer{statement};
    names->clear();
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        std::string name = text != nullptr ? text : "";
        // The database's own tables are not keywords.
        if (name.compare(0, 4, "MSys") == 0 || name.compare(0, 7, "sqlite_") == 0) {
            continue;
        }
        names->push_back(std::move(name));
    }
    if (rc != SQLITE_DONE) {
        return fail_sqlite(error, reader_, "cannot list the tables of " + path_);
    }
    return true;
}

bool SqliteStore::read_rows(std::string_view table,
                            const std::function<bool(ContactRecord&&)>& sink, std::string* error) {
    std::lock_guard lock(read_mutex_);
    const std::string sql = "SELECT * FROM " + quote_name(table);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(reader_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        return fail_sqlite(error, reader_, "cannot read " + quote_name(table));
    }
    Finalizer finalizer{statement};
    // Values are read by column name, whatever order the table has them in.
    std::array<int, kRecordFields> source{};
    source.fill(-1);
    for (int c = 0; c < sqlite3_column_count(statement); ++c) {
        const std::string_view name = sqlite3_column_name(statement, c);
        for (int f = 0; f < kRecordFields; ++f) {
            if (kRecordColumnNames[static_cast<std::size_t>(f)] == name) {
                source[static_cast<std::size_t>(f)] = c;
            }
        }
    }
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        ContactRecord record;
        for (int f = 0; f < kRecordFields; ++f) {
            const int c = source[static_cast<std::size_t>(f)];
            if (c < 0) {
                continue;
            }
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
            if (text != nullptr) {
                record[static_cast<std::size_t>(f)].assign(
                    text, static_cast<std::size_t>(sqlite3_column_bytes(statement, c)));
            }
        }
        if (!sink(std::move(record))) {
            return true;
        }
    }
    if (rc != SQLITE_DONE) {
        return fail_sqlite(error, reader_, "cannot read " + quote_name(table));
    }
    return true;
}

bool SqliteStore::count_rows(std::string_view table, long long* count, std::string* error) {
    std::lock_guard lock(read_mutex_);
    const std::string sql = "SELECT count(*) FROM " + quote_name(table);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(reader_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        return fail_sqlite(error, reader_, "cannot count the rows of " + quote_name(table));
    }
    Finalizer finalizer{statement};
    if (sqlite3_step(statement) != SQLITE_ROW) {
        return fail_sqlite(error, reader_, "cannot count the rows of " + quote_name(table));
    }
    *count = sqlite3_column_int64(statement, 0);
    return true;
}

}  // namespace qinglan
