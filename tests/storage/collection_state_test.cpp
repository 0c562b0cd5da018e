// The collection state kept beside the keyword tables, the claims on
// keywords, and several collectors opening one database at once.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/storage/store_fixture.h"

namespace qinglan {
namespace {

using namespace std::chrono_literals;

using CollectionStateTest = SqliteStoreTest;

CollectionState state_of(SqliteStore& store, const std::string& table) {
    CollectionState state;
    std::string error;
    EXPECT_TRUE(store.read_state(table, &state, &error)) << error;
    return state;
}

TEST_F(CollectionStateTest, FollowsAKeywordFromItsTableToItsLastRow) {
    auto store = open_store();
    ASSERT_TRUE(store->ensure_table("手机", nullptr));
    CollectionState state = state_of(*store, "手机");
    EXPECT_TRUE(state.tracked);
    EXPECT_FALSE(state.listed);
    EXPECT_FALSE(state.complete());

    // Accounts are the page's bytes (GBK), kept exactly.
    const std::vector<std::string> members = {"a", "\xD5\xC5", "a"};
    ASSERT_TRUE(store->save_member_list("手机", members, false, nullptr));
    state = state_of(*store, "手机");
    EXPECT_TRUE(state.listed);
    EXPECT_EQ(state.members, members);
    EXPECT_EQ(state.stored, (std::vector<bool>{false, false, false}));

    ASSERT_TRUE(store->insert_record("手机", record_of("x"), 2, nullptr));
    ASSERT_TRUE(store->insert_record("手机", record_of("y"), 0, nullptr));
    state = state_of(*store, "手机");
    EXPECT_EQ(state.stored, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(state.stored_count(), 2);
    EXPECT_FALSE(state.complete());
    ASSERT_TRUE(store->insert_record("手机", record_of("z"), 1, nullptr));
    EXPECT_TRUE(state_of(*store, "手机").complete());

    // The state stays out of the table list.
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, (std::vector<std::string>{"123", "手机"}));
    // The first table and tables of older versions have none.
    EXPECT_FALSE(state_of(*store, "123").tracked);
    EXPECT_TRUE(state_of(*store, "123").complete());
}

TEST_F(CollectionStateTest, ARowAndItsMemberAreStoredTogetherOrNotAtAll) {
    auto store = open_store();
    ASSERT_TRUE(store->ensure_table("t", nullptr));
    ASSERT_TRUE(store->save_member_list("t", {"m0", "m1"}, false, nullptr));
    // The table refuses rows from now on; the member must not count as stored.
    ASSERT_TRUE(store->execute(
        "CREATE TRIGGER refuse BEFORE INSERT ON \"t\" BEGIN SELECT RAISE(ABORT, 'refused'); END",
        nullptr));
    std::string error;
    EXPECT_FALSE(store->insert_record("t", record_of("a"), 0, &error));
    EXPECT_NE(error.find("refused"), std::string::npos) << error;
    EXPECT_EQ(state_of(*store, "t").stored, (std::vector<bool>{false, false}));
    EXPECT_TRUE(rows(*store, "t").empty());
}

TEST_F(CollectionStateTest, ANewMemberListCanReplaceTheRows) {
    auto store = open_store();
    ASSERT_TRUE(store->ensure_table("t", nullptr));
    ASSERT_TRUE(store->save_member_list("t", {"old"}, false, nullptr));
    ASSERT_TRUE(store->insert_record("t", record_of("old"), 0, nullptr));

    ASSERT_TRUE(store->save_member_list("t", {"n0", "n1"}, false, nullptr));
    EXPECT_EQ(rows(*store, "t").size(), 1U);  // kept: a resumed list
    ASSERT_TRUE(store->save_member_list("t", {"n0", "n1"}, true, nullptr));
    EXPECT_TRUE(rows(*store, "t").empty());
    const CollectionState state = state_of(*store, "t");
    EXPECT_EQ(state.members, (std::vector<std::string>{"n0", "n1"}));
    EXPECT_EQ(state.stored_count(), 0);
}

TEST_F(CollectionStateTest, ForgetDeletesTablesAndStatesTogether) {
    auto store = open_store();
    for (const char* table : {"a", "b", "c"}) {
        ASSERT_TRUE(store->ensure_table(table, nullptr));
        ASSERT_TRUE(store->save_member_list(table, {"m"}, false, nullptr));
        ASSERT_TRUE(store->insert_record(table, record_of(table), 0, nullptr));
    }
    ASSERT_TRUE(store->forget({"a", "c"}, nullptr));
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, (std::vector<std::string>{"123", "b"}));
    EXPECT_FALSE(state_of(*store, "a").tracked);
    EXPECT_TRUE(state_of(*store, "b").complete());

    // Made again, a forgotten keyword starts with nothing.
    ASSERT_TRUE(store->ensure_table("a", nullptr));
    EXPECT_FALSE(state_of(*store, "a").listed);
    EXPECT_TRUE(rows(*store, "a").empty());
    ASSERT_TRUE(store->insert_record("a", record_of("again"), -1, nullptr));
}

TEST_F(CollectionStateTest, TheStateTablesAreNoKeywords) {
    auto store = open_store();
    std::string error;
    for (const char* name : {"MSysCollections", "msyscollectionmembers"}) {
        EXPECT_FALSE(store->ensure_table(name, &error)) << name;
        EXPECT_NE(error.find("reserved"), std::string::npos) << error;
    }
}

TEST_F(CollectionStateTest, AKeywordIsClaimedByOneCollectorAtATime) {
    auto first = open_store();
    auto second = open_store();
    std::string error;
    ASSERT_TRUE(first->claim("k", &error)) << error;
    EXPECT_FALSE(first->claim("k", &error));
    EXPECT_EQ(error, "it is being collected by another task of this collector");
    EXPECT_FALSE(second->claim("k", &error));
    EXPECT_EQ(error, "it is being collected by another collector");
    EXPECT_TRUE(second->claim("other", &error)) << error;

    first->release("k");
    EXPECT_TRUE(second->claim("k", &error)) << error;
    // Closing a store ends its claims.
    second.reset();
    EXPECT_TRUE(first->claim("k", &error)) << error;
    EXPECT_TRUE(first->claim("other", &error)) << error;
}

TEST_F(CollectionStateTest, CollectorsOpeningANewDatabaseAtOnceAllSucceed) {
    constexpr int kStores = 8;
    std::atomic<int> opened{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kStores; ++i) {
        threads.emplace_back([&] {
            std::string error;
            auto store = SqliteStore::open(dir_.string(), &error);
            EXPECT_TRUE(store) << error;
            opened += store ? 1 : 0;
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(opened, kStores);
    auto store = open_store();
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, std::vector<std::string>{"123"});
}

TEST_F(CollectionStateTest, WritesWaitForALockThatClearsAndGiveUpWhenInterrupted) {
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
