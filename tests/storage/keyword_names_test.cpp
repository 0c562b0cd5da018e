// Keywords whose names a database keeps for itself, or the collector keeps
// for its own tables, are keywords like any other on both stores: stored,
// listed, read back, forgotten and copied, and never mixed with the tables
// whose names they are.

#include <gtest/gtest.h>

#include "tests/storage/store_fixture.h"

namespace qinglan {
namespace {

// The collector's own names, SQLite's and PostgreSQL's, another letter case
// of one, a catalog view's, and ordinary ones between them.
const std::vector<std::string> kOddKeywords = {"MSysFoo",
                                               "手机",
                                               "MSysCollections",
                                               "MSysCollectionMembers",
                                               "MSysKeywordTables",
                                               "MSysKeyword1",
                                               "msyscollections",
                                               "sqlite_x",
                                               "SQLITE_MASTER",
                                               "sqlite_sequence",
                                               "pg_class",
                                               "pg_roles",
                                               "pg_settings",
                                               "tables",
                                               "PG_x",
                                               "电脑"};

void store_keyword(RecordStore& store, const std::string& keyword, const std::string& seed) {
    std::string error;
    ASSERT_TRUE(store.ensure_table(keyword, &error)) << keyword << ": " << error;
    ASSERT_TRUE(store.save_member_list(keyword, {"m0", "m1"}, false, &error)) << error;
    ASSERT_TRUE(store.insert_record(keyword, record_of(seed + "0"), 0, &error)) << error;
    ASSERT_TRUE(store.insert_record(keyword, record_of(seed + "1"), 1, &error)) << error;
}

void expect_keyword(RecordStore& store, const std::string& keyword, const std::string& seed) {
    EXPECT_EQ(rows_of(store, keyword),
              (std::vector<ContactRecord>{record_of(seed + "0"), record_of(seed + "1")}))
        << keyword;
    long long count = 0;
    std::string error;
    EXPECT_TRUE(store.count_rows(keyword, &count, &error)) << keyword << ": " << error;
    EXPECT_EQ(count, 2) << keyword;
    const CollectionState state = state_of(store, keyword);
    EXPECT_EQ(state.members, (std::vector<std::string>{"m0", "m1"})) << keyword;
    EXPECT_TRUE(state.complete()) << keyword;
}

TEST_P(StoreTest, EveryKeywordRoundTripsWhateverItsName) {
    auto store = open_store();
    ASSERT_TRUE(store);
    for (std::size_t i = 0; i < kOddKeywords.size(); ++i) {
        store_keyword(*store, kOddKeywords[i], "k" + std::to_string(i) + "-");
    }
    std::vector<std::string> expected = {"123"};
    expected.insert(expected.end(), kOddKeywords.begin(), kOddKeywords.end());
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, expected);

    // Read again by another collector, every keyword has its own rows; the
    // state tables still hold the states of all of them.
    auto other = open_store();
    for (std::size_t i = 0; i < kOddKeywords.size(); ++i) {
        expect_keyword(*other, kOddKeywords[i], "k" + std::to_string(i) + "-");
    }
    // A keyword never stored has no table, whatever its name is.
    for (const char* missing : {"MSysOther", "sqlite_master", "pg_type", "msyskeywordtables"}) {
        std::string error;
        long long count = 0;
        EXPECT_FALSE(other->count_rows(missing, &count, &error)) << missing;
        EXPECT_FALSE(other->read_rows(
            missing, [](ContactRecord&&) { return true; }, &error))
            << missing;
    }

    // Forgotten, they go alone; made again, they start empty.
    const std::vector<std::string> forgotten = {"MSysCollections", "sqlite_x", "pg_class",
                                                "MSysKeywordTables"};
    ASSERT_TRUE(other->forget(forgotten, nullptr));
    ASSERT_TRUE(other->read_table_names(&names, nullptr));
    for (const std::string& keyword : forgotten) {
        expected.erase(std::find(expected.begin(), expected.end(), keyword));
    }
    EXPECT_EQ(names, expected);
    for (std::size_t i = 0; i < kOddKeywords.size(); ++i) {
        if (std::find(forgotten.begin(), forgotten.end(), kOddKeywords[i]) == forgotten.end()) {
            expect_keyword(*other, kOddKeywords[i], "k" + std::to_string(i) + "-");
        }
    }
    ASSERT_TRUE(store->ensure_table("MSysCollections", nullptr));
    EXPECT_TRUE(rows_of(*store, "MSysCollections").empty());
    EXPECT_FALSE(state_of(*store, "MSysCollections").listed);
    ASSERT_TRUE(store->ensure_table("pg_class", nullptr));
    EXPECT_TRUE(rows_of(*store, "pg_class").empty());
}

// A keyword copied from one store to the other keeps its name, its rows and
// its state, whatever either store names its table.
TEST(KeywordCopyTest, OddNamesCopyBetweenTheFileAndTheServerAndBack) {
    const std::string url = test_database_url();
    ASSERT_FALSE(url.empty());
    TempFolder from_folder("names-from"), back_folder("names-back");
    std::string error;
    auto file = SqliteStore::open(from_folder.str(), &error);
    auto server = PostgresStore::open(url, &error);
    auto back = SqliteStore::open(back_folder.str(), &error);
    ASSERT_TRUE(file && server && back) << error;
    for (std::size_t i = 0; i < kOddKeywords.size(); ++i) {
        store_keyword(*file, kOddKeywords[i], "c" + std::to_string(i) + "-");
    }
    const auto copy = [](RecordStore& source, RecordStore& destination) {
        std::vector<std::string> names;
        std::string reason;
        ASSERT_TRUE(source.read_table_names(&names, &reason)) << reason;
        for (const std::string& keyword : names) {
            if (keyword != "123") {
                ASSERT_TRUE(destination.import_table(keyword, rows_of(source, keyword),
                                                     state_of(source, keyword), &reason))
                    << keyword << ": " << reason;
            }
        }
    };
    copy(*file, *server);
    copy(*server, *back);
    for (RecordStore* store :
         {static_cast<RecordStore*>(server.get()), static_cast<RecordStore*>(back.get())}) {
        std::vector<std::string> names;
        ASSERT_TRUE(store->read_table_names(&names, nullptr));
        std::vector<std::string> expected = {"123"};
        expected.insert(expected.end(), kOddKeywords.begin(), kOddKeywords.end());
        EXPECT_EQ(names, expected) << store->location();
        for (std::size_t i = 0; i < kOddKeywords.size(); ++i) {
            expect_keyword(*store, kOddKeywords[i], "c" + std::to_string(i) + "-");
        }
    }
}

}  // namespace
}  // namespace qinglan
