#pragma once

// The local database: <data dir>/date/lingshishuj.db, SQLite. The file is
// created with the empty table "123" on the first open that finds it
// missing, and the date folder with it. Every keyword table has the thirteen
// TEXT columns 编号, 地址, 公司名称, 用户账号, 电话, 传真, 称呼, 移动电话,
// 职位, 联系人, 邮编, 部门, 网站; 编号 is never written.
//
// Values are bound, never spliced into SQL, and table names are quoted, so a
// keyword is only ever a name. The journal is a WAL and each insert its own
// transaction: a crash loses at most the member in hand. Inserts are
// serialised on one connection; reads use a second one, so loading a large
// table never holds up the collectors.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

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

    bool ensure_table(std::string_view table, std::string* error) override;
    bool insert_record(std::string_view table, const ContactRecord& record,
                       std::string* error) override;
    bool read_table_names(std::vector<std::string>* names, std::string* error) override;
    bool read_rows(std::string_view table, const std::function<bool(ContactRecord&&)>& sink,
                   std::string* error) override;
    bool count_rows(std::string_view table, long long* count, std::string* error) override;

    // Runs one statement on the writing connection; for tests and tools.
    bool execute(const std::string& sql, std::string* error);

private:
    SqliteStore(std::string path, sqlite3* writer, sqlite3* reader);

    sqlite3_stmt* insert_statement(std::string_view table, std::string* error);

    const std::string path_;
    std::mutex write_mutex_;
    sqlite3* writer_;
    std::unordered_map<std::string, sqlite3_stmt*> inserts_;  // by table, under write_mutex_
    std::mutex read_mutex_;
    sqlite3* reader_;
};

}  // namespace qinglan
