#include "storage/sqlite_store.h"

#include <sqlite3.h>

#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <system_error>
#include <vector>

#include "services/failure.h"
#include "storage/sqlite_support.h"

namespace qinglan {
namespace {

using namespace sqlite;

// How long a write waits for a database another program holds.
constexpr int kBusyTimeoutMs = 10000;
constexpr int kBusyStepMs = 10;

// `shown` names the file in messages, `target` is what SQLite opens.
sqlite3* open_connection(const std::string& target, int flags, const std::string& shown,
                         std::string* error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(target.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        fail(error, "cannot open " + shown + ": " +
                        (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    return db;
}

// Whether this process may write the file and make its journal beside it.
// A file not there yet is made, or fails to be with the reason.
bool may_write(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return ::access(path.c_str(), F_OK) != 0 ||
           (::access(path.c_str(), W_OK) == 0 &&
            ::access(folder.empty() ? "." : folder.c_str(), W_OK) == 0);
}

// The file as an SQLite URI with one query parameter: every byte but
// letters, digits and "/._-~" percent-encoded, so no name reads as a query.
std::string file_uri(const std::string& path, const char* parameter) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string uri = path.compare(0, 1, "/") == 0 ? "file://" : "file:";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') ||
            std::string_view("/._-~").find(c) != std::string_view::npos) {
            uri += c;
        } else {
            uri += '%';
            uri += kDigits[byte >> 4];
            uri += kDigits[byte & 15];
        }
    }
    return uri + "?" + parameter;
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
    if (!may_write(path_)) {
        return connect_read_only(error);
    }
    writer_ = open_connection(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, path_, error);
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
    reader_ = open_connection(path_, SQLITE_OPEN_READONLY, path_, error);
    if (reader_ == nullptr) {
        return false;
    }
    sqlite3_busy_handler(reader_, busy_wait, this);
    if (!create_schema(&reason)) {
        return fail(error, "cannot create the first tables in " + path_ + ": " + reason);
    }
    return true;
}

// Opens the reading connection only, writing nothing: no journal mode is
// set, no table made. Read-only, SQLite still makes a WAL database's shared
// index and log beside it when they are missing: a folder it cannot write
// refuses them, and in one it can they would belong to this user, and their
// owner could no longer write the database. So a database whose index and
// log are there (a writer has it open) is read through them, and any other
// is read as immutable: as it is, nobody writing it. A database another
// program holds is waited for, not read as immutable.
bool SqliteStore::connect_read_only(std::string* error) {
    read_only_ = true;
    std::string first_reason;
    std::error_code ignored;
    const bool shared = std::filesystem::exists(path_ + "-wal", ignored) &&
                        std::filesystem::exists(path_ + "-shm", ignored);
    for (const char* mode : {"mode=ro", "immutable=1"}) {
        if (!shared && std::string_view(mode) == "mode=ro") {
            continue;
        }
        std::string reason;
        reader_ = open_connection(file_uri(path_, mode), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                                  path_, &reason);
        if (reader_ != nullptr) {
            sqlite3_busy_handler(reader_, busy_wait, this);
            if (run(reader_, "SELECT count(*) FROM sqlite_master", &reason)) {
                return true;
            }
            const bool busy = (sqlite3_extended_errcode(reader_) & 0xff) == SQLITE_BUSY;
            sqlite3_close(reader_);
            reader_ = nullptr;
            if (busy) {
                return fail(error, "cannot open " + path_ + ": " + reason);
            }
            reason = "cannot open " + path_ + ": " + reason;
        }
        if (first_reason.empty()) {
            first_reason = reason;
        }
    }
    return fail(error, first_reason + " (opened for reading only: this user may not write it)");
}

bool SqliteStore::writable(const std::string& doing, std::string* error) const {
    return !read_only_ ||
           fail(error, doing + ": " + path_ +
                           " is read-only (this user may not write the file or its folder)");
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
    const std::string names = "'" + std::string(kCollections) + "','" + kMembers + "','" +
                              kKeywordTables + "','" + kSites + "'";
    bool with_first_table = false;
    {
        // Finished before the transaction begins: a read still open would
        // make the write wait on itself when another collector wrote first.
        sqlite3_stmt* count = nullptr;
        if (sqlite3_prepare_v2(writer_,
                               ("SELECT count(name IN (" + names + ") OR NULL), count(*), (" +
                                count_later_state_columns() + ") FROM sqlite_master")
                                   .c_str(),
                               -1, &count, nullptr) != SQLITE_OK) {
            return fail(error, sqlite3_errmsg(writer_));
        }
        Finalizer finalizer{count};
        // A file that cannot be written is read as it is: without the
        // column, no claim of it needs one, as nothing is stored.
        if (sqlite3_step(count) == SQLITE_ROW && sqlite3_column_int(count, 0) == 4 &&
            (sqlite3_column_int(count, 2) == kLaterStateColumns ||
             sqlite3_db_readonly(writer_, "main") == 1)) {
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
                   " stored INTEGER NOT NULL, PRIMARY KEY (keyword, position)) WITHOUT ROWID;"
                   "CREATE TABLE IF NOT EXISTS " +
                   quote_name(kKeywordTables) +
                   " (number INTEGER PRIMARY KEY AUTOINCREMENT, keyword TEXT NOT NULL UNIQUE);"
                   "CREATE TABLE IF NOT EXISTS " +
                   quote_name(kSites) + " (keyword TEXT PRIMARY KEY, site TEXT NOT NULL)",
               error) &&
           add_state_columns(error) && transaction.commit(error);
}

// A file from before a column of the state (the claims' numbers, or one of
// state_columns.h) gets it; the programs of then go on using the file, as
// they never name it.
bool SqliteStore::add_state_columns(std::string* error) {
    std::vector<StateColumn> columns = {{"claim", "INTEGER NOT NULL DEFAULT 0"}};
    columns.insert(columns.end(), std::begin(kAddedStateColumns), std::end(kAddedStateColumns));
    for (const StateColumn& column : columns) {
        if (!has_column(writer_, kCollections, column.name) &&
            !run(writer_,
                 "ALTER TABLE " + quote_name(kCollections) + " ADD COLUMN " +
                     std::string(column.name) + " " + std::string(column.definition),
                 error)) {
            return false;
        }
    }
    return true;
}

bool SqliteStore::execute(const std::string& sql, std::string* error) {
    if (!writable("cannot run " + sql, error)) {
        return false;
    }
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

bool SqliteStore::read_table_names(std::vector<std::string>* names, std::string* error) {
    std::lock_guard lock(read_mutex_);
    const std::string doing = "cannot list the tables of " + path_;
    // One read transaction, so the tables and their keywords agree.
    if (!run(reader_, "BEGIN", error)) {
        return false;
    }
    struct EndRead {
        sqlite3* db;
        ~EndRead() { run(db, "COMMIT", nullptr); }
    } end_read{reader_};
    std::unordered_map<std::string, std::string> mapped;  // table → keyword
    sqlite3_stmt* keywords = nullptr;
    if (sqlite3_prepare_v2(reader_,
                           ("SELECT number, keyword FROM " + quote_name(kKeywordTables)).c_str(),
                           -1, &keywords, nullptr) == SQLITE_OK) {
        Finalizer finalizer{keywords};
        while (sqlite3_step(keywords) == SQLITE_ROW) {
            const auto* keyword = static_cast<const char*>(sqlite3_column_blob(keywords, 1));
            mapped[mapped_table(reinterpret_cast<const char*>(sqlite3_column_text(keywords, 0)))] =
                std::string(keyword != nullptr ? keyword : "",
                            static_cast<std::size_t>(sqlite3_column_bytes(keywords, 1)));
        }
    } else if (has_table(reader_, kKeywordTables)) {
        return fail_sqlite(error, reader_, doing);
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(reader_,
                           "SELECT name FROM sqlite_master WHERE type='table' ORDER BY rowid", -1,
                           &statement, nullptr) != SQLITE_OK) {
        return fail_sqlite(error, reader_, doing);
    }
    Finalizer finalizer{statement};
    names->clear();
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        std::string name = text != nullptr ? text : "";
        const auto keyword = mapped.find(name);
        if (keyword != mapped.end()) {
            names->push_back(keyword->second);
        } else if (!collector_name(name) && name.compare(0, 7, "sqlite_") != 0) {
            // The database's own tables are not keywords.
            names->push_back(std::move(name));
        }
    }
    if (rc != SQLITE_DONE) {
        return fail_sqlite(error, reader_, doing);
    }
    return true;
}

bool SqliteStore::read_rows(std::string_view table,
                            const std::function<bool(ContactRecord&&)>& sink, std::string* error) {
    std::lock_guard lock(read_mutex_);
    const std::string doing = "cannot read " + quote_name(table);
    std::string quoted;
    if (!table_name(reader_, table, &quoted, error)) {
        return false;
    }
    if (quoted.empty()) {
        return fail(error, doing + ": no table is stored for it");
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(reader_, ("SELECT * FROM " + quoted).c_str(), -1, &statement, nullptr) !=
        SQLITE_OK) {
        return fail_sqlite(error, reader_, doing);
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
    const std::string doing = "cannot count the rows of " + quote_name(table);
    std::string quoted;
    if (!table_name(reader_, table, &quoted, error)) {
        return false;
    }
    if (quoted.empty()) {
        return fail(error, doing + ": no table is stored for it");
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(reader_, ("SELECT count(*) FROM " + quoted).c_str(), -1, &statement,
                           nullptr) != SQLITE_OK) {
        return fail_sqlite(error, reader_, doing);
    }
    Finalizer finalizer{statement};
    if (sqlite3_step(statement) != SQLITE_ROW) {
        return fail_sqlite(error, reader_, "cannot count the rows of " + quote_name(table));
    }
    *count = sqlite3_column_int64(statement, 0);
    return true;
}

}  // namespace qinglan
