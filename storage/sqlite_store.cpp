#include "storage/sqlite_store.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>

#include "services/failure.h"

namespace qinglan {
namespace {

constexpr int kBusyTimeoutMs = 10000;

// The table columns in their stored order; 编号 comes first and stays empty.
constexpr const char* kCreateColumns =
    "(\"编号\" TEXT, \"地址\" TEXT, \"公司名称\" TEXT, \"用户账号\" TEXT, \"电话\" TEXT, "
    "\"传真\" TEXT, \"称呼\" TEXT, \"移动电话\" TEXT, \"职位\" TEXT, \"联系人\" TEXT, "
    "\"邮编\" TEXT, \"部门\" TEXT, \"网站\" TEXT)";

std::string quote_name(std::string_view name) {
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

bool fail_sqlite(std::string* error, sqlite3* db, const std::string& doing) {
    return fail(error, doing + ": " + sqlite3_errmsg(db));
}

bool run(sqlite3* db, const std::string& sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string reason = message != nullptr ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        return fail(error, reason);
    }
    return true;
}

// Closes a statement when it goes out of scope.
struct Finalizer {
    sqlite3_stmt* statement;
    ~Finalizer() { sqlite3_finalize(statement); }
};

sqlite3* open_connection(const std::string& path, int flags, std::string* error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        fail(error,
             "cannot open " + path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
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
    const bool is_new = !std::filesystem::exists(path, fs_error);

    sqlite3* writer = open_connection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
    if (writer == nullptr) {
        return nullptr;
    }
    std::string reason;
    // Reading the schema tells a database from any other file at once.
    if (!run(writer, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", &reason) ||
        !run(writer, "SELECT count(*) FROM sqlite_master", &reason)) {
        fail(error, "cannot open " + path + ": " + reason);
        sqlite3_close(writer);
        return nullptr;
    }
    sqlite3* reader = open_connection(path, SQLITE_OPEN_READONLY, error);
    if (reader == nullptr) {
        sqlite3_close(writer);
        return nullptr;
    }
    std::unique_ptr<SqliteStore> store(new SqliteStore(path, writer, reader));
    if (is_new && !store->ensure_table("123", &reason)) {
        fail(error, "cannot create the first table in " + path + ": " + reason);
        return nullptr;
    }
    return store;
}

SqliteStore::SqliteStore(std::string path, sqlite3* writer, sqlite3* reader)
    : path_(std::move(path)), writer_(writer), reader_(reader) {}

SqliteStore::~SqliteStore() {
    for (auto& [table, statement] : inserts_) {
        sqlite3_finalize(statement);
    }
    sqlite3_close(reader_);
    sqlite3_close(writer_);
}

bool SqliteStore::execute(const std::string& sql, std::string* error) {
    std::lock_guard lock(write_mutex_);
    return run(writer_, sql, error);
}

bool SqliteStore::ensure_table(std::string_view table, std::string* error) {
    const std::string quoted = quote_name(table);
    // SQLite keeps names beginning with "sqlite_" for itself, in any case.
    if (table.size() >= 7 && sqlite3_strnicmp(table.data(), "sqlite_", 7) == 0) {
        return fail(error, "cannot create the table " + quoted +
                               ": names beginning with sqlite_ are reserved by the database");
    }
    std::lock_guard lock(write_mutex_);
    // Table names ignore the case of ASCII letters: a keyword that differs
    // from a stored one only in case would write into that keyword's table.
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(writer_, "SELECT name FROM sqlite_master WHERE name = ?1 COLLATE NOCASE",
                           -1, &statement, nullptr) != SQLITE_OK) {
        return fail_sqlite(error, writer_, "cannot create the table " + quoted);
    }
    Finalizer finalizer{statement};
    sqlite3_bind_text(statement, 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
    if (sqlite3_step(statement) == SQLITE_ROW) {
        const auto* existing = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        if (existing != nullptr && table == existing) {
            return true;
        }
        return fail(error, "cannot create the table " + quoted + ": the table " +
                               quote_name(existing != nullptr ? existing : "") +
                               " exists, and table names do not tell letter case apart");
    }
    std::string reason;
    if (!run(writer_, "CREATE TABLE " + quoted + " " + kCreateColumns, &reason)) {
        return fail(error, "cannot create the table " + quoted + ": " + reason);
    }
    return true;
}

sqlite3_stmt* SqliteStore::insert_statement(std::string_view table, std::string* error) {
    const auto found = inserts_.find(std::string(table));
    if (found != inserts_.end()) {
        return found->second;
    }
    std::string sql = "INSERT INTO " + quote_name(table) + " (";
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

bool SqliteStore::insert_record(std::string_view table, const ContactRecord& record,
                                std::string* error) {
    std::lock_guard lock(write_mutex_);
    sqlite3_stmt* statement = insert_statement(table, error);
    if (statement == nullptr) {
        return false;
    }
    for (int i = 0; i < kRecordFields; ++i) {
        const std::string& value = record[static_cast<std::size_t>(i)];
        sqlite3_bind_text(statement, i + 1, value.data(), static_cast<int>(value.size()),
                          SQLITE_STATIC);
    }
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (rc != SQLITE_DONE) {
        // A statement whose table went away is prepared anew next time.
        sqlite3_finalize(statement);
        inserts_.erase(std::string(table));
        return fail_sqlite(error, writer_, "cannot store a row into " + quote_name(table));
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
