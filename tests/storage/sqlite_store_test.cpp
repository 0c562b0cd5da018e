#include "storage/sqlite_store.h"

#include "tests/storage/store_fixture.h"
#include "tests/temp_folder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace qinglan {
namespace {

namespace fs = std::filesystem;

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

TEST_F(SqliteStoreTest, RowsSurviveReopeningAndReadByName) {
    {
        auto store = open_store();
        ASSERT_TRUE(store->ensure_table("手机", nullptr));
        ASSERT_TRUE(store->insert_record("手机", record_of("a"), -1, nullptr));
        ContactRecord odd = record_of("b");
        odd[kCompanyName] = "O'Brien \"Co\"; DROP TABLE x; --";
        odd[kAddress] = "line1\nline2\ttab";
        odd[kWebsite] = "";
        ASSERT_TRUE(store->insert_record("手机", odd, -1, nullptr));
        // The first table is only made with a new file.
        ASSERT_TRUE(store->execute("DROP TABLE \"123\"", nullptr));
    }
    auto store = open_store();
    const auto stored = rows(*store, "手机");
    ASSERT_EQ(stored.size(), 2U);
    EXPECT_EQ(stored[0], record_of("a"));
    EXPECT_EQ(stored[1][kCompanyName], "O'Brien \"Co\"; DROP TABLE x; --");
    EXPECT_EQ(stored[1][kAddress], "line1\nline2\ttab");
    long long count = 0;
    ASSERT_TRUE(store->count_rows("手机", &count, nullptr));
    EXPECT_EQ(count, 2);
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, std::vector<std::string>{"手机"});

    // A reader that stops early.
    int seen = 0;
    ASSERT_TRUE(store->read_rows(
        "手机", [&](ContactRecord&&) { return ++seen < 1; }, nullptr));
    EXPECT_EQ(seen, 1);
}

TEST_F(SqliteStoreTest, TableNamesKeepCreationOrderWithoutSystemTables) {
    auto store = open_store();
    for (const char* name : {"b", "a", "MSysObjects", "MSy", "x\"y", "  ", ""}) {
        ASSERT_TRUE(store->ensure_table(name, nullptr)) << name;
    }
    ASSERT_TRUE(store->execute("CREATE TABLE t (id INTEGER PRIMARY KEY AUTOINCREMENT)", nullptr));
    ASSERT_TRUE(store->execute("ANALYZE", nullptr));
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, (std::vector<std::string>{"123", "b", "a", "MSy", "x\"y", "  ", "", "t"}));
    // An existing table is left as it is; one that differs only in letter
    // case is refused, as the database would take it for the same table.
    ASSERT_TRUE(store->insert_record("b", record_of("r"), -1, nullptr));
    ASSERT_TRUE(store->ensure_table("b", nullptr));
    std::string error;
    EXPECT_FALSE(store->ensure_table("B", &error));
    EXPECT_NE(error.find("letter case"), std::string::npos) << error;
    EXPECT_FALSE(store->ensure_table("SQLITE_MASTER", &error));
    EXPECT_NE(error.find("reserved"), std::string::npos) << error;
    EXPECT_EQ(rows(*store, "b").size(), 1U);
    // Only ASCII letters fold: these are other names.
    EXPECT_TRUE(store->ensure_table("Ä", nullptr));
    EXPECT_TRUE(store->ensure_table("ä", nullptr));
}

TEST_F(SqliteStoreTest, FailuresSayWhatAndWhy) {
    auto store = open_store();
    std::string error;
    EXPECT_FALSE(store->ensure_table("sqlite_x", &error));
    EXPECT_NE(error.find("sqlite_x"), std::string::npos) << error;
    EXPECT_FALSE(store->insert_record("missing", record_of("a"), -1, &error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    EXPECT_FALSE(store->read_rows(
        "missing", [](ContactRecord&&) { return true; }, &error));
    long long count = 0;
    EXPECT_FALSE(store->count_rows("missing", &count, &error));
    // A table that appears later is written once it exists.
    ASSERT_TRUE(store->ensure_table("missing", nullptr));
    EXPECT_TRUE(store->insert_record("missing", record_of("a"), -1, &error)) << error;
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

TEST_F(SqliteStoreTest, ConcurrentInsertsAndReads) {
    auto store = open_store();
    constexpr int kThreads = 4;
    constexpr int kRows = 200;
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_TRUE(store->ensure_table("t" + std::to_string(t), nullptr));
    }
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < kRows; ++i) {
                EXPECT_TRUE(store->insert_record("t" + std::to_string(t),
                                                 record_of(std::to_string(i)), -1, nullptr));
            }
        });
    }
    for (int i = 0; i < 20; ++i) {
        long long count = 0;
        EXPECT_TRUE(store->count_rows("t0", &count, nullptr));
        EXPECT_LE(count, kRows);
    }
    for (auto& writer : writers) {
        writer.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        long long count = 0;
        ASSERT_TRUE(store->count_rows("t" + std::to_string(t), &count, nullptr));
        EXPECT_EQ(count, kRows);
    }
}

}  // namespace
}  // namespace qinglan
