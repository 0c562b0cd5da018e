#include "storage/sqlite_store.h"

#include "tests/storage/store_fixture.h"
#include "tests/temp_folder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

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

// The file's own names: SQLite's tables stay out of the list, its reserved
// prefix is refused, and only ASCII letters fold.
TEST_F(SqliteStoreTest, TheDatabasesOwnNamesStayApart) {
    auto store = open_store();
    ASSERT_TRUE(store->ensure_table("b", nullptr));
    ASSERT_TRUE(store->execute("CREATE TABLE t (id INTEGER PRIMARY KEY AUTOINCREMENT)", nullptr));
    ASSERT_TRUE(store->execute("ANALYZE", nullptr));
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, (std::vector<std::string>{"123", "b", "t"}));
    std::string error;
    EXPECT_FALSE(store->ensure_table("SQLITE_MASTER", &error));
    EXPECT_NE(error.find("reserved"), std::string::npos) << error;
    EXPECT_FALSE(store->ensure_table("sqlite_x", &error));
    EXPECT_NE(error.find("sqlite_x"), std::string::npos) << error;
    EXPECT_TRUE(store->ensure_table("Ä", nullptr));
    EXPECT_TRUE(store->ensure_table("ä", nullptr));
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
