// What every store does alike, run on the SQLite file and on the server:
// rows, the table list, the collection state beside the tables, claims,
// copied keywords, and several collectors at once.

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "tests/storage/store_fixture.h"

namespace qinglan {
namespace {

TEST_P(StoreTest, RowsSurviveReopeningAndReadByName) {
    {
        auto store = open_store();
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->ensure_table("手机", nullptr));
        ASSERT_TRUE(store->insert_record("手机", record_of("a"), -1, nullptr));
        ContactRecord odd = record_of("b");
        odd[kCompanyName] = "O'Brien \"Co\"; DROP TABLE x; --";
        odd[kAddress] = "line1\nline2\ttab\\";
        odd[kWebsite] = "";
        ASSERT_TRUE(store->insert_record("手机", odd, -1, nullptr));
        // The first table is only made with a new database.
        ASSERT_TRUE(execute(*store, "DROP TABLE \"123\""));
    }
    auto store = open_store();
    const auto stored = rows_of(*store, "手机");
    ASSERT_EQ(stored.size(), 2U);
    EXPECT_EQ(stored[0], record_of("a"));
    EXPECT_EQ(stored[1][kCompanyName], "O'Brien \"Co\"; DROP TABLE x; --");
    EXPECT_EQ(stored[1][kAddress], "line1\nline2\ttab\\");
    long long count = 0;
    ASSERT_TRUE(store->count_rows("手机", &count, nullptr));
    EXPECT_EQ(count, 2);
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, std::vector<std::string>{"手机"});

    // A reader that stops early; the store reads on afterwards.
    int seen = 0;
    ASSERT_TRUE(store->read_rows(
        "手机", [&](ContactRecord&&) { return ++seen < 1; }, nullptr));
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(rows_of(*store, "手机").size(), 2U);
}

TEST_P(StoreTest, TableNamesKeepCreationOrderWithoutSystemTables) {
    auto store = open_store();
    ASSERT_TRUE(store);
    for (const char* name : {"b", "a", "MSysObjects", "MSy", "x\"y", "  ", ""}) {
        ASSERT_TRUE(store->ensure_table(name, nullptr)) << name;
    }
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names,
              (std::vector<std::string>{"123", "b", "a", "MSysObjects", "MSy", "x\"y", "  ", ""}));
    // An existing table is left as it is.
    ASSERT_TRUE(store->insert_record("b", record_of("r"), -1, nullptr));
    ASSERT_TRUE(store->ensure_table("b", nullptr));
    EXPECT_EQ(rows_of(*store, "b").size(), 1U);
    // Every one is a table of its own, the odd names too.
    for (const char* name : {"MSysObjects", "x\"y", "  ", ""}) {
        ASSERT_TRUE(store->insert_record(name, record_of(name), -1, nullptr)) << name;
        EXPECT_EQ(rows_of(*store, name), std::vector<ContactRecord>{record_of(name)}) << name;
    }
    std::string error;
    if (postgres()) {
        // Quoted names keep their letter case on the server.
        ASSERT_TRUE(store->ensure_table("B", &error)) << error;
        EXPECT_TRUE(rows_of(*store, "B").empty());
    } else {
        // The file would take it for "b".
        EXPECT_FALSE(store->ensure_table("B", &error));
        EXPECT_NE(error.find("letter case"), std::string::npos) << error;
    }
    EXPECT_EQ(rows_of(*store, "b").size(), 1U);
}

TEST_P(StoreTest, FailuresSayWhatAndWhy) {
    auto store = open_store();
    ASSERT_TRUE(store);
    std::string error;
    EXPECT_FALSE(store->insert_record("missing", record_of("a"), -1, &error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    EXPECT_FALSE(store->read_rows(
        "missing", [](ContactRecord&&) { return true; }, &error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    long long count = 0;
    EXPECT_FALSE(store->count_rows("missing", &count, &error));
    // A table that appears later is written once it exists.
    ASSERT_TRUE(store->ensure_table("missing", nullptr));
    EXPECT_TRUE(store->insert_record("missing", record_of("a"), -1, &error)) << error;
}

TEST_P(StoreTest, ConcurrentInsertsAndReads) {
    auto store = open_store();
    ASSERT_TRUE(store);
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
        const auto stored = rows_of(*store, "t" + std::to_string(t));
        ASSERT_EQ(stored.size(), static_cast<std::size_t>(kRows));
        // In the order they were stored.
        for (int i = 0; i < kRows; ++i) {
            EXPECT_EQ(stored[static_cast<std::size_t>(i)], record_of(std::to_string(i)));
        }
    }
}

TEST_P(StoreTest, FollowsAKeywordFromItsTableToItsLastRow) {
    auto store = open_store();
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->ensure_table("手机", nullptr));
    CollectionState state = state_of(*store, "手机");
    EXPECT_TRUE(state.tracked);
    EXPECT_FALSE(state.listed);
    EXPECT_FALSE(state.complete());

    // Accounts are the page's bytes (GBK), kept exactly.
    const std::vector<std::string> members = {"a", "\xD5\xC5", "a", std::string("\0\"{,}", 5)};
    ASSERT_TRUE(store->save_member_list("手机", members, false, nullptr));
    state = state_of(*store, "手机");
    EXPECT_TRUE(state.listed);
    EXPECT_EQ(state.members, members);
    EXPECT_EQ(state.stored, (std::vector<bool>{false, false, false, false}));

    ASSERT_TRUE(store->insert_record("手机", record_of("x"), 2, nullptr));
    ASSERT_TRUE(store->insert_record("手机", record_of("y"), 0, nullptr));
    ASSERT_TRUE(store->insert_record("手机", record_of("w"), 3, nullptr));
    state = state_of(*store, "手机");
    EXPECT_EQ(state.stored, (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(state.stored_count(), 3);
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

TEST_P(StoreTest, ARowAndItsMemberAreStoredTogetherOrNotAtAll) {
    auto store = open_store();
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->ensure_table("t", nullptr));
    ASSERT_TRUE(store->save_member_list("t", {"m0", "m1"}, false, nullptr));
    // The table refuses rows from now on; the member must not count as stored.
    ASSERT_TRUE(execute(
        *store, postgres()
                    ? "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                      "$$BEGIN RAISE EXCEPTION 'refused'; END$$;"
                      "CREATE TRIGGER refuse BEFORE INSERT ON \"t\" FOR EACH ROW "
                      "EXECUTE FUNCTION refuse()"
                    : "CREATE TRIGGER refuse BEFORE INSERT ON \"t\" BEGIN SELECT RAISE(ABORT, "
                      "'refused'); END"));
    std::string error;
    EXPECT_FALSE(store->insert_record("t", record_of("a"), 0, &error));
    EXPECT_NE(error.find("refused"), std::string::npos) << error;
    EXPECT_EQ(state_of(*store, "t").stored, (std::vector<bool>{false, false}));
    EXPECT_TRUE(rows_of(*store, "t").empty());
}

// Rows handed over while the store goes on are answered once each and
// stored in the order given, two tables' rows mixed; a refused row takes no
// other row with it, nor its member's mark.
TEST_P(StoreTest, QueuedRowsAreAnsweredOnceInOrderAndAloneWhenRefused) {
    auto store = open_store();
    ASSERT_TRUE(store);
    constexpr int kRows = 40;
    constexpr int kRefused = 7;
    std::vector<std::string> members;
    for (int i = 0; i < kRows; ++i) {
        members.push_back("m" + std::to_string(i));
    }
    for (const char* table : {"a", "b"}) {
        ASSERT_TRUE(store->ensure_table(table, nullptr));
        ASSERT_TRUE(store->save_member_list(table, members, false, nullptr));
    }
    // "b" refuses the row whose 公司名称 is "bad0".
    ASSERT_TRUE(execute(
        *store,
        postgres() ? "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                     "$$BEGIN IF NEW.\"公司名称\" = 'bad0' THEN RAISE EXCEPTION 'refused'; END IF; "
                     "RETURN NEW; END$$;"
                     "CREATE TRIGGER refuse BEFORE INSERT ON \"b\" FOR EACH ROW "
                     "EXECUTE FUNCTION refuse()"
                   : "CREATE TRIGGER refuse BEFORE INSERT ON \"b\" WHEN NEW.\"公司名称\" = 'bad0' "
                     "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    std::vector<ContactRecord> rows_a, rows_b;
    std::vector<QueuedRow> answers_a, answers_b;
    for (int i = 0; i < kRows; ++i) {
        rows_a.push_back(record_of("a" + std::to_string(i) + "-"));
        rows_b.push_back(record_of(i == kRefused ? "bad" : "b" + std::to_string(i) + "-"));
        store->queue_record("a", rows_a.back(), i, &answers_a);
        store->queue_record("b", rows_b.back(), i, &answers_b);
    }
    store->settle_rows("a", &answers_a);
    store->settle_rows("b", &answers_b);

    ASSERT_EQ(answers_a.size(), static_cast<std::size_t>(kRows));
    ASSERT_EQ(answers_b.size(), static_cast<std::size_t>(kRows));
    for (int i = 0; i < kRows; ++i) {
        const QueuedRow& a = answers_a[static_cast<std::size_t>(i)];
        const QueuedRow& b = answers_b[static_cast<std::size_t>(i)];
        EXPECT_EQ(a.member, i);
        EXPECT_TRUE(a.stored) << a.error;
        EXPECT_EQ(b.member, i);
        EXPECT_EQ(b.stored, i != kRefused) << b.error;
    }
    EXPECT_NE(answers_b[kRefused].error.find("cannot store a row into \"b\""), std::string::npos)
        << answers_b[kRefused].error;
    EXPECT_NE(answers_b[kRefused].error.find("refused"), std::string::npos);

    EXPECT_EQ(rows_of(*store, "a"), rows_a);
    rows_b.erase(rows_b.begin() + kRefused);
    EXPECT_EQ(rows_of(*store, "b"), rows_b);
    std::vector<bool> marks(kRows, true);
    EXPECT_EQ(state_of(*store, "a").stored, marks);
    marks[kRefused] = false;
    EXPECT_EQ(state_of(*store, "b").stored, marks);
    // Nothing is left to answer.
    std::vector<QueuedRow> more;
    store->settle_rows("b", &more);
    EXPECT_TRUE(more.empty());
}

// Rows of very different sizes leave room in earlier pages that later rows
// fit in; they still come back in the order they were stored, whether
// stored one at a time, handed over in batches, or copied in at once.
TEST_P(StoreTest, RowsOfEverySizeComeBackInTheOrderStored) {
    auto store = open_store();
    ASSERT_TRUE(store);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> length(1, 150);
    std::vector<ContactRecord> rows;
    for (int i = 0; i < 600; ++i) {
        ContactRecord record;
        for (std::string& value : record) {
            for (int n = length(random); n > 0; --n) {
                value += static_cast<char>('a' + random() % 26);
            }
        }
        record[0] = std::to_string(i) + " " + record[0];
        rows.push_back(std::move(record));
    }
    ASSERT_TRUE(store->ensure_table("one", nullptr));
    ASSERT_TRUE(store->ensure_table("queued", nullptr));
    std::vector<QueuedRow> answers;
    for (const ContactRecord& record : rows) {
        ASSERT_TRUE(store->insert_record("one", record, -1, nullptr));
        store->queue_record("queued", record, -1, &answers);
    }
    store->settle_rows("queued", &answers);
    std::string error;
    ASSERT_TRUE(store->import_table("copied", rows, CollectionState(), &error)) << error;
    for (const char* table : {"one", "queued", "copied"}) {
        const std::vector<ContactRecord> read = rows_of(*store, table);
        ASSERT_EQ(read.size(), rows.size()) << table;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            ASSERT_EQ(read[i][0], rows[i][0]) << table << ": row " << i;
        }
    }
}

TEST_P(StoreTest, ANewMemberListCanReplaceTheRows) {
    auto store = open_store();
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->ensure_table("t", nullptr));
    ASSERT_TRUE(store->save_member_list("t", {"old"}, false, nullptr));
    ASSERT_TRUE(store->insert_record("t", record_of("old"), 0, nullptr));

    ASSERT_TRUE(store->save_member_list("t", {"n0", "n1"}, false, nullptr));
    EXPECT_EQ(rows_of(*store, "t").size(), 1U);  // kept: a resumed list
    ASSERT_TRUE(store->save_member_list("t", {"n0", "n1"}, true, nullptr));
    EXPECT_TRUE(rows_of(*store, "t").empty());
    const CollectionState state = state_of(*store, "t");
    EXPECT_EQ(state.members, (std::vector<std::string>{"n0", "n1"}));
    EXPECT_EQ(state.stored_count(), 0);
}

TEST_P(StoreTest, ForgetDeletesTablesAndStatesTogether) {
    auto store = open_store();
    ASSERT_TRUE(store);
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
    EXPECT_TRUE(rows_of(*store, "a").empty());
    ASSERT_TRUE(store->insert_record("a", record_of("again"), -1, nullptr));
}

TEST_P(StoreTest, AKeywordIsClaimedByOneCollectorAtATime) {
    auto first = open_store();
    auto second = open_store();
    ASSERT_TRUE(first && second);
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

// A collector loses its claim without knowing: its session ended on the
// server, or the claims file deleted under it. Another collector then
// claims the keyword, finishes it and releases it; the first one's rows
// and member lists are refused from then on, until it claims anew.
TEST_P(StoreTest, AClaimTakenOverAndReleasedMeanwhileStoresNothingMore) {
    auto first = open_store();
    ASSERT_TRUE(first);
    std::string error;
    ASSERT_TRUE(first->claim("k", &error)) << error;
    ASSERT_TRUE(first->ensure_table("k", &error)) << error;
    ASSERT_TRUE(first->save_member_list("k", {"m0", "m1", "m2"}, false, &error)) << error;
    ASSERT_TRUE(first->insert_record("k", record_of("a"), 0, &error)) << error;

    end_claims_unseen();
    {
        auto second = open_store();
        ASSERT_TRUE(second);
        ASSERT_TRUE(second->claim("k", &error)) << error;
        ASSERT_TRUE(second->insert_record("k", record_of("b"), 1, &error)) << error;
        ASSERT_TRUE(second->insert_record("k", record_of("c"), 2, &error)) << error;
        second->release("k");
    }

    EXPECT_FALSE(first->claim_lost("k"));
    EXPECT_FALSE(first->insert_record("k", record_of("b"), 1, &error));
    EXPECT_NE(error.find("another collector has taken the keyword"), std::string::npos) << error;
    EXPECT_TRUE(first->claim_lost("k"));
    std::vector<QueuedRow> answers;
    first->queue_record("k", record_of("c"), 2, &answers);
    first->settle_rows("k", &answers);
    ASSERT_EQ(answers.size(), 1U);
    EXPECT_FALSE(answers[0].stored);
    EXPECT_TRUE(answers[0].claim_lost);
    EXPECT_FALSE(first->save_member_list("k", {"x"}, true, &error));
    EXPECT_NE(error.find("another collector has taken the keyword"), std::string::npos) << error;

    const std::vector<ContactRecord> finished = {record_of("a"), record_of("b"), record_of("c")};
    EXPECT_EQ(rows_of(*first, "k"), finished);
    EXPECT_EQ(state_of(*first, "k").stored, (std::vector<bool>{true, true, true}));

    // Claimed anew, the keyword is the first collector's again, and others
    // are refused it.
    first->release("k");
    ASSERT_TRUE(first->claim("k", &error)) << error;
    EXPECT_TRUE(first->insert_record("k", record_of("d"), -1, &error)) << error;
    EXPECT_EQ(rows_of(*first, "k").size(), 4U);
    EXPECT_FALSE(open_store()->claim("k", &error));
    EXPECT_EQ(error, "it is being collected by another collector");
}

// A database from before claims left their numbers in the state: opened, it
// gets their column, and its keywords are claimed and written as any other.
TEST_P(StoreTest, AStateFromBeforeClaimNumbersKeepsWorking) {
    {
        auto old = open_store();
        ASSERT_TRUE(old);
        ASSERT_TRUE(old->ensure_table("k", nullptr));
        ASSERT_TRUE(old->save_member_list("k", {"m0", "m1"}, false, nullptr));
        ASSERT_TRUE(old->insert_record("k", record_of("a"), 0, nullptr));
        ASSERT_TRUE(execute(*old, "ALTER TABLE \"MSysCollections\" DROP COLUMN claim"));
    }
    auto store = open_store();
    ASSERT_TRUE(store);
    EXPECT_EQ(state_of(*store, "k").stored, (std::vector<bool>{true, false}));
    std::string error;
    ASSERT_TRUE(store->claim("k", &error)) << error;
    EXPECT_TRUE(store->insert_record("k", record_of("b"), 1, &error)) << error;
    EXPECT_TRUE(state_of(*store, "k").complete());
    ASSERT_TRUE(store->claim("new", &error)) << error;
    ASSERT_TRUE(store->ensure_table("new", &error)) << error;
    EXPECT_TRUE(store->save_member_list("new", {"m0"}, false, &error)) << error;
    EXPECT_TRUE(store->insert_record("new", record_of("c"), 0, &error)) << error;
    EXPECT_EQ(rows_of(*store, "new").size(), 1U);
}

// A keyword remembers the site it was collected from through every write of
// its state, a copy, and a database from before sites were kept.
TEST_P(StoreTest, AKeywordKeepsTheSiteItWasCollectedFrom) {
    std::string error;
    {
        auto old = open_store();
        ASSERT_TRUE(old);
        ASSERT_TRUE(old->ensure_table("before", &error)) << error;
        ASSERT_TRUE(execute(*old, "DROP TABLE \"MSysCollectionSites\""));
    }
    auto store = open_store();
    ASSERT_TRUE(store);
    EXPECT_EQ(state_of(*store, "before").site, "内置");
    ASSERT_TRUE(store->ensure_table("k", "示例市场", &error)) << error;
    EXPECT_EQ(state_of(*store, "k").site, "示例市场");
    ASSERT_TRUE(store->save_member_list("k", {"m0"}, true, &error)) << error;
    ASSERT_TRUE(store->insert_record("k", record_of("a"), 0, &error)) << error;
    EXPECT_EQ(state_of(*store, "k").site, "示例市场");
    // An existing table keeps the site it was made for.
    ASSERT_TRUE(store->ensure_table("k", "别的", &error)) << error;
    EXPECT_EQ(state_of(*store, "k").site, "示例市场");

    CollectionState copied = state_of(*store, "k");
    ASSERT_TRUE(store->import_table("copy", rows_of(*store, "k"), copied, &error)) << error;
    EXPECT_EQ(state_of(*store, "copy").site, "示例市场");
    EXPECT_TRUE(state_of(*store, "copy").complete());

    // Forgotten and made again, it is the new site's.
    ASSERT_TRUE(store->forget({"k"}, &error)) << error;
    ASSERT_TRUE(store->ensure_table("k", &error)) << error;
    EXPECT_EQ(state_of(*store, "k").site, "内置");
}

TEST_P(StoreTest, CollectorsOpeningANewDatabaseAtOnceAllSucceed) {
    constexpr int kStores = 8;
    std::atomic<int> opened{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kStores; ++i) {
        threads.emplace_back([&] {
            auto store = open_store();
            // Each makes the same new keyword: one table, no failure.
            std::string error;
            EXPECT_TRUE(store && store->ensure_table("same", &error)) << error;
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
    EXPECT_EQ(names, (std::vector<std::string>{"123", "same"}));
}

TEST_P(StoreTest, AnImportedKeywordKeepsItsRowsAndStateAndIsNeverMerged) {
    auto store = open_store();
    ASSERT_TRUE(store);
    CollectionState state;
    state.tracked = state.listed = true;
    state.members = {"m0", "\xD5\xC5", ""};
    state.stored = {true, false, true};
    const std::vector<ContactRecord> rows = {record_of("a"), record_of("b")};
    std::string error;
    ASSERT_TRUE(store->import_table("k", rows, state, &error)) << error;
    EXPECT_EQ(rows_of(*store, "k"), rows);
    const CollectionState copied = state_of(*store, "k");
    EXPECT_EQ(copied.members, state.members);
    EXPECT_EQ(copied.stored, state.stored);
    EXPECT_TRUE(copied.listed);

    // A second copy of the same keyword changes nothing.
    EXPECT_FALSE(store->import_table("k", rows, state, &error));
    EXPECT_NE(error.find("exists"), std::string::npos) << error;
    EXPECT_EQ(rows_of(*store, "k").size(), 2U);

    // A table from before states were kept stays without one.
    ASSERT_TRUE(store->import_table("old", rows, CollectionState(), &error)) << error;
    EXPECT_FALSE(state_of(*store, "old").tracked);
    std::vector<std::string> names;
    ASSERT_TRUE(store->read_table_names(&names, nullptr));
    EXPECT_EQ(names, (std::vector<std::string>{"123", "k", "old"}));
}

INSTANTIATE_TEST_SUITE_P(BothStores, StoreTest,
                         testing::Values(StoreKind::kSqlite, StoreKind::kPostgres),
                         store_kind_name);

}  // namespace
}  // namespace qinglan
