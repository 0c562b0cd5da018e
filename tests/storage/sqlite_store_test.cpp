#include "storage/sqlite_store.h"

#include "storage/sqlite_support.h"
#include "tests/read_only.h"
#include "tests/storage/store_fixture.h"
#include "tests/temp_folder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace qinglan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST_F(SqliteStoreTest, FirstOpenMakesTheFolderFileAndFirstTable) {
    auto store = open_store();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->path(), (dir_ / "date" / "lingshishuj.db").string());
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, std::vector<std::string>{"123"});

    // The thirteen columns in their stored order.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(store->path().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA table_info(\"123\")", -1, &statement, nullptr),
              SQLITE_OK);
    std::vector<std::string> columns;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        columns.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)));
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 2)), "TEXT");
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    EXPECT_EQ(columns, (std::vector<std::string>{"编号", "地址", "公司名称", "用户账号", "电话",
                                                 "传真", "称呼", "移动电话", "职位", "联系人",
                                                 "邮编", "部门", "网站"}));
}

// The file's own names: SQLite's tables stay out of the list, keywords with
// its reserved prefix get tables of their own, and only ASCII letters fold.
TEST_F(SqliteStoreTest, TheDatabasesOwnNamesStayApart) {
    auto store = open_store();
    ASSERT_TRUE(store->ensure_table("b", nullptr));
    ASSERT_TRUE(store->execute("CREATE TABLE t (id INTEGER PRIMARY KEY AUTOINCREMENT)", nullptr));
    ASSERT_TRUE(store->execute("ANALYZE", nullptr));
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, (std::vector<std::string>{"123", "b", "t"}));
    std::string error;
    EXPECT_TRUE(store->ensure_table("SQLITE_MASTER", &error)) << error;
    EXPECT_TRUE(store->ensure_table("sqlite_x", &error)) << error;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, (std::vector<std::string>{"123", "b", "t", "SQLITE_MASTER", "sqlite_x"}));
    EXPECT_TRUE(store->ensure_table("Ä", nullptr));
    EXPECT_TRUE(store->ensure_table("ä", nullptr));
}

// What a reader of the file sees, in one text: the tables with their rows
// and states, and what a write says.
std::string read_store(const fs::path& dir) {
    std::string error;
    auto store = SqliteStore::open(dir.string(), &error);
    if (!store) {
        return "cannot open: " + error;
    }
    std::vector<std::string> names;
    if (!store->read_table_names(&names, &error)) {
        return "cannot list: " + error;
    }
    std::string seen;
    for (const std::string& name : names) {
        long long count = -1;
        CollectionState state;
        if (!store->count_rows(name, &count, &error) || !store->read_state(name, &state, &error)) {
            return seen + "cannot read " + name + ": " + error;
        }
        std::size_t values = 0;
        store->read_rows(
            name,
            [&](ContactRecord&& record) {
                values += record[kCompanyName].size();
                return true;
            },
            &error);
        seen += name + " " + std::to_string(count) + " " + std::to_string(values) +
                (state.complete() ? " complete\n" : " incomplete\n");
    }
    for (const bool written : {store->ensure_table("新", &error),
                               store->insert_record("手机", record_of("x"), -1, &error),
                               store->forget({"手机"}, &error)}) {
        const bool says_read_only = error.find("read-only") != std::string::npos;
        seen += written ? "written\n" : says_read_only ? "refused: read-only\n" : error + "\n";
    }
    return seen;
}

// A file of an earlier version, made before the collection state was kept,
// in a folder this user may not write: everything is read, nothing
// written, every write refused saying why. Writable again, it keeps
// working, and a keyword beginning with "msys" it holds stays its own.
TEST_F(SqliteStoreTest, AnEarlierVersionsFileIsReadWithoutWriteAccess) {
    fs::create_directories(dir_ / "date");
    const fs::path path = dir_ / "date" / "lingshishuj.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const std::string columns = sqlite::kCreateColumns;
    ASSERT_EQ(sqlite3_exec(
                  db,
                  ("PRAGMA journal_mode=WAL; CREATE TABLE \"123\" " + columns +
                   "; CREATE TABLE \"手机\" " + columns + "; CREATE TABLE \"msysfoo\" " + columns +
                   "; INSERT INTO \"手机\" (\"公司名称\") VALUES ('ab'), ('cde');"
                   "INSERT INTO \"msysfoo\" (\"公司名称\") VALUES ('f')")
                      .c_str(),
                  nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const std::string expected = "123 0 0 complete\n手机 2 5 complete\nmsysfoo 1 1 complete\n";
    {
        ReadOnlyFolder read_only(dir_ / "date");
        const std::string bytes = file_contents(path);
        EXPECT_EQ(read_as_reader([&] { return read_store(dir_); }),
                  expected + "refused: read-only\nrefused: read-only\nrefused: read-only\n");
        EXPECT_EQ(file_contents(path), bytes);
        std::vector<std::string> files;
        for (const auto& entry : fs::directory_iterator(dir_ / "date")) {
            files.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(files, std::vector<std::string>{"lingshishuj.db"});
    }
    auto store = open_store();
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->ensure_table("MSysFoo", nullptr));
    ASSERT_TRUE(store->ensure_table("msysfoo", nullptr));
    ASSERT_TRUE(store->insert_record("MSysFoo", record_of("new"), -1, nullptr));
    EXPECT_EQ(rows(*store, "MSysFoo"), std::vector<ContactRecord>{record_of("new")});
    EXPECT_EQ(rows(*store, "msysfoo").size(), 1U);
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, (std::vector<std::string>{"123", "手机", "msysfoo", "MSysFoo"}));
}

// The file this version writes, read in a folder this user may not write:
// a WAL database there is read as immutable.
TEST_F(SqliteStoreTest, ItsOwnFileIsReadWithoutWriteAccess) {
    {
        auto store = open_store();
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->ensure_table("手机", nullptr));
        ASSERT_TRUE(store->save_member_list("手机", {"a", "b"}, false, nullptr));
        ASSERT_TRUE(store->insert_record("手机", record_of("ab"), 0, nullptr));
        ASSERT_TRUE(store->ensure_table("sqlite_x", nullptr));
    }
    const std::string expected =
        "123 0 0 complete\n手机 1 3 incomplete\nsqlite_x 0 0 incomplete\n"
        "refused: read-only\nrefused: read-only\nrefused: read-only\n";
    ReadOnlyFolder read_only(dir_ / "date");
    EXPECT_EQ(read_as_reader([&] { return read_store(dir_); }), expected);
    // A folder anyone may write, the file this user may not: the reader
    // leaves no index or log there that its owner could not write.
    fs::permissions(dir_ / "date", fs::perms::all);
    EXPECT_EQ(read_as_reader([&] { return read_store(dir_); }), expected);
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_ / "date")) {
        files.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, std::vector<std::string>{"lingshishuj.db"});
}

// A file from before the state kept the result page to read next, in a
// folder this user may not write: read as it is, its keywords had every
// result page read.
TEST_F(SqliteStoreTest, AFileWithoutThePageToReadNextIsReadWithoutWriteAccess) {
    {
        auto store = open_store();
        ASSERT_TRUE(store);
        for (const char* table : {"done", "手机"}) {
            ASSERT_TRUE(store->ensure_table(table, nullptr));
            ASSERT_TRUE(store->save_member_list(table, {"a", "b"}, false, nullptr));
            ASSERT_TRUE(store->insert_record(table, record_of("ab"), 0, nullptr));
        }
        ASSERT_TRUE(store->insert_record("done", record_of("cd"), 1, nullptr));
        ASSERT_TRUE(
            store->execute("ALTER TABLE \"MSysCollections\" DROP COLUMN next_page", nullptr));
    }
    ReadOnlyFolder read_only(dir_ / "date");
    EXPECT_EQ(read_as_reader([&] { return read_store(dir_); }),
              "123 0 0 complete\ndone 2 6 complete\n手机 1 3 incomplete\n"
              "refused: read-only\nrefused: read-only\nrefused: read-only\n");
}

// While a collector writes the file, a reader that may not write it reads
// through the collector's index and log: the rows not yet in the file too.
TEST_F(SqliteStoreTest, AFileBeingWrittenIsReadWithItsLatestRows) {
    auto writer = open_store();
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->ensure_table("手机", nullptr));
    ASSERT_TRUE(writer->insert_record("手机", record_of("ab"), -1, nullptr));
    ReadOnlyFolder read_only(dir_ / "date");
    ASSERT_TRUE(writer->insert_record("手机", record_of("cd"), -1, nullptr));
    const std::string seen = read_as_reader([&] { return read_store(dir_); });
    EXPECT_EQ(seen.substr(0, seen.find("refused")), "123 0 0 complete\n手机 2 6 incomplete\n");
}

TEST_F(SqliteStoreTest, AnEmptyFileLeftByAKilledStartIsMadeNew) {
    fs::create_directories(dir_ / "date");
    std::ofstream(dir_ / "date" / "lingshishuj.db").flush();
    auto store = open_store();
    ASSERT_TRUE(store);
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, std::vector<std::string>{"123"});

    // A database with tables is no new one: a "123" deleted stays deleted.
    ASSERT_TRUE(store->ensure_table("k", nullptr));
    ASSERT_TRUE(store->execute("DROP TABLE \"123\"", nullptr));
    store.reset();
    store = open_store();
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, std::vector<std::string>{"k"});
}

TEST_F(SqliteStoreTest, UnusableFilesAreReported) {
    std::string error;
    // The date folder's place taken by a file.
    std::ofstream(dir_ / "date") << "x";
    EXPECT_FALSE(SqliteStore::open(dir_.string(), &error));
    EXPECT_NE(error.find("date"), std::string::npos) << error;
    fs::remove(dir_ / "date");

    // A file that is not a database.
    fs::create_directories(dir_ / "date");
    std::ofstream(dir_ / "date" / "lingshishuj.db") << std::string(4096, 'z');
    EXPECT_FALSE(SqliteStore::open(dir_.string(), &error));
    EXPECT_NE(error.find("lingshishuj.db"), std::string::npos) << error;
}

TEST_F(SqliteStoreTest, WritesWaitForALockThatClearsAndGiveUpWhenInterrupted) {
    auto store = open_store();
    ASSERT_TRUE(store->ensure_table("t", nullptr));
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(store->path().c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread releaser([holder] {
        std::this_thread::sleep_for(300ms);
        sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    });
    std::string error;
    EXPECT_TRUE(store->insert_record("t", record_of("a"), -1, &error)) << error;
    releaser.join();

    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread interrupter([&store] {
        std::this_thread::sleep_for(200ms);
        store->interrupt();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(store->insert_record("t", record_of("b"), -1, &error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_NE(error.find("locked"), std::string::npos) << error;
    interrupter.join();
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
}

}  // namespace
}  // namespace qinglan
