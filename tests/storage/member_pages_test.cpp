// A member list saved result page by result page, on both stores: later
// pages' accounts follow the list without touching the marks before them,
// the page to read next is kept until the reading ends, and databases from
// before it was kept read as finished.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/storage/store_fixture.h"

namespace qinglan {
namespace {

using Accounts = std::vector<std::string>;
using Marks = std::vector<bool>;

TEST_P(StoreTest, AMemberListGrowsPageByPageAndCompletesWhenTheReadingEnds) {
    auto store = open_store();
    ASSERT_TRUE(store);
    std::string error;
    ASSERT_TRUE(store->claim("k", &error)) << error;
    ASSERT_TRUE(store->ensure_table("k", &error)) << error;
    ASSERT_TRUE(store->save_members_from("k", 0, {"m0", "m1"}, 2, false, &error)) << error;
    CollectionState state = state_of(*store, "k");
    EXPECT_TRUE(state.listed);
    EXPECT_EQ(state.next_page, 2);
    ASSERT_TRUE(store->insert_record("k", record_of("a"), 0, &error)) << error;

    // Page 2's new accounts follow; the stored member keeps its mark.
    ASSERT_TRUE(store->save_members_from("k", 2, {"m2", "\xD5\xC5"}, 3, false, &error)) << error;
    state = state_of(*store, "k");
    EXPECT_EQ(state.members, (Accounts{"m0", "m1", "m2", "\xD5\xC5"}));
    EXPECT_EQ(state.stored, (Marks{true, false, false, false}));
    EXPECT_EQ(state.next_page, 3);
    for (int member = 1; member < 4; ++member) {
        ASSERT_TRUE(store->insert_record("k", record_of("b"), member, &error)) << error;
    }
    // Every member is stored, but a result page is still to be read.
    EXPECT_FALSE(state_of(*store, "k").complete());

    // The same page saved again (a run cut short after saving it) replaces
    // what followed, not what came before.
    ASSERT_TRUE(store->save_members_from("k", 3, {"m3"}, 4, false, &error)) << error;
    state = state_of(*store, "k");
    EXPECT_EQ(state.members, (Accounts{"m0", "m1", "m2", "m3"}));
    EXPECT_EQ(state.stored, (Marks{true, true, true, false}));
    ASSERT_TRUE(store->insert_record("k", record_of("c"), 3, &error)) << error;

    // A page without new accounts ends the reading.
    ASSERT_TRUE(store->save_members_from("k", 4, {}, 0, false, &error)) << error;
    state = state_of(*store, "k");
    EXPECT_EQ(state.next_page, 0);
    EXPECT_TRUE(state.complete());
    EXPECT_EQ(rows_of(*store, "k").size(), 5U);

    // Started over, the first page's list replaces it all, rows included.
    ASSERT_TRUE(store->save_members_from("k", 0, {"n0"}, 2, true, &error)) << error;
    state = state_of(*store, "k");
    EXPECT_EQ(state.members, (Accounts{"n0"}));
    EXPECT_EQ(state.stored, (Marks{false}));
    EXPECT_EQ(state.next_page, 2);
    EXPECT_TRUE(rows_of(*store, "k").empty());
}

// Another collector took the keyword meanwhile: a later page's accounts are
// refused like its rows, and the list stays as that collector left it.
TEST_P(StoreTest, ALaterPageIsRefusedOnceTheClaimIsLost) {
    auto first = open_store();
    ASSERT_TRUE(first);
    std::string error;
    ASSERT_TRUE(first->claim("k", &error)) << error;
    ASSERT_TRUE(first->ensure_table("k", &error)) << error;
    ASSERT_TRUE(first->save_members_from("k", 0, {"m0"}, 2, false, &error)) << error;
    end_claims_unseen();
    {
        auto second = open_store();
        ASSERT_TRUE(second);
        ASSERT_TRUE(second->claim("k", &error)) << error;
        ASSERT_TRUE(second->save_members_from("k", 1, {"s1"}, 0, false, &error)) << error;
        second->release("k");
    }
    EXPECT_FALSE(first->save_members_from("k", 1, {"f1"}, 3, false, &error));
    EXPECT_NE(error.find("another collector has taken the keyword"), std::string::npos) << error;
    const CollectionState state = state_of(*first, "k");
    EXPECT_EQ(state.members, (Accounts{"m0", "s1"}));
    EXPECT_EQ(state.next_page, 0);
}

// A database from before the page to read next was kept: opened, it gets
// the column, its keywords read as having had their pages read, and new
// ones keep their page.
TEST_P(StoreTest, AStateFromBeforeThePageToReadNextReadsAsFinished) {
    {
        auto old = open_store();
        ASSERT_TRUE(old);
        ASSERT_TRUE(old->ensure_table("done", nullptr));
        ASSERT_TRUE(old->save_member_list("done", {"m0"}, false, nullptr));
        ASSERT_TRUE(old->insert_record("done", record_of("a"), 0, nullptr));
        ASSERT_TRUE(old->ensure_table("half", nullptr));
        ASSERT_TRUE(old->save_member_list("half", {"m0", "m1"}, false, nullptr));
        ASSERT_TRUE(old->insert_record("half", record_of("b"), 1, nullptr));
        ASSERT_TRUE(execute(*old, "ALTER TABLE \"MSysCollections\" DROP COLUMN next_page"));
    }
    auto store = open_store();
    ASSERT_TRUE(store);
    EXPECT_TRUE(state_of(*store, "done").complete());
    const CollectionState half = state_of(*store, "half");
    EXPECT_EQ(half.next_page, 0);
    EXPECT_EQ(half.stored, (Marks{false, true}));
    EXPECT_FALSE(half.complete());
    std::string error;
    ASSERT_TRUE(store->ensure_table("new", &error)) << error;
    ASSERT_TRUE(store->save_members_from("new", 0, {"m0"}, 2, false, &error)) << error;
    EXPECT_EQ(state_of(*store, "new").next_page, 2);
}

TEST_P(StoreTest, ACopiedKeywordKeepsThePageToReadNext) {
    auto store = open_store();
    ASSERT_TRUE(store);
    CollectionState state;
    state.tracked = state.listed = true;
    state.members = {"m0", "m1"};
    state.stored = {true, true};
    state.next_page = 3;
    std::string error;
    ASSERT_TRUE(store->import_table("k", {record_of("a"), record_of("b")}, state, &error)) << error;
    const CollectionState copied = state_of(*store, "k");
    EXPECT_EQ(copied.next_page, 3);
    EXPECT_FALSE(copied.complete());
}

}  // namespace
}  // namespace qinglan
