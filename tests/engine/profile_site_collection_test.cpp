// A collection of the sample shop with the shipped profile's site: the
// engine asks the shop's addresses, reads its result pages one after the
// other, and stores what the profile cuts out.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/collection_engine.h"
#include "engine/site/profile_site.h"
#include "marketplace_fixture.h"
#include "recording_observer.h"
#include "tests/engine/sample_shop.h"

namespace qinglan {
namespace {

const std::string kProfileFile = std::string(QINGLAN_TEST_SOURCE) + "/../sites/sample_shop.ini";

const std::string kTeaPage = "shop/search/%E8%8C%B6%E5%8F%B6/";

// The tea's result pages 1 to 3 list these, page 4 nobody new; the first
// page lists its promoted member twice, and every later page once more.
const std::vector<std::string> kTeaAccounts = {"mingqian", "shanquan", "mingqian", "yunwu",
                                               "lvye",     "qingxi",   "songfeng"};

class ProfileSiteCollectionTest : public MarketplaceFixture {
protected:
    void SetUp() override {
        MarketplaceFixture::SetUp();
        std::string error;
        site_ = load_site(kProfileFile, &error);
        ASSERT_TRUE(site_) << error;
        market_.serve_folder(std::string(QINGLAN_TEST_DATA) + "/marketplace");
    }

    SubmitResult collect(const std::string& keyword, int parallel) {
        CollectionEngine engine(store(), hosts(), observer_, parallel, site_);
        const SubmitResult result = engine.submit_keyword(keyword);
        engine.wait_all();
        return result;
    }

    std::vector<std::string> stored_accounts(const std::string& table) {
        std::vector<std::string> accounts;
        for (const ContactRecord& row : stored_rows(table)) {
            accounts.push_back(row[kAccount]);
        }
        return accounts;
    }

    // The resource keys asked for, in the order they arrived.
    std::vector<std::string> asked() const {
        std::vector<std::string> keys;
        for (const auto& request : market_.requests()) {
            keys.push_back(request.resource_key);
        }
        return keys;
    }

    CollectionState state_of(const std::string& table) {
        CollectionState state;
        std::string error;
        EXPECT_TRUE(store().read_state(table, &state, &error)) << error;
        return state;
    }

    std::shared_ptr<const Site> site_;
    RecordingObserver observer_;
};

const ContactRecord kShanquanRecord = {"福建山泉茶叶合作社",
                                       "林秀英",
                                       "shanquan",
                                       "",
                                       "社长",
                                       "女士",
                                       "0593-6123456",
                                       "",
                                       "139 5000 1234",
                                       "福建省福安市社口镇山泉村 1号",
                                       "355000",
                                       ""};
const ContactRecord kYunwuRecord = {"云南\"云雾\"普洱茶厂",
                                    "李明",
                                    "yunwu",
                                    "生产部",
                                    "厂长",
                                    "先生",
                                    "0879-2233445",
                                    "0879-2233446",
                                    "",
                                    "云南省普洱市思茅区茶源路 66 号",
                                    "665000",
                                    "http://yunwu.example.cn/puer/"};

// Every result page up to the one that lists nobody new is read; a member
// an earlier page listed is not collected again, while the first page's
// repeated member is, as that page lists it.
TEST_F(ProfileSiteCollectionTest, StoresTheMembersOfEveryResultPageOnceInListOrder) {
    const SubmitResult result = collect("茶叶", 3);
    ASSERT_EQ(result.kind, SubmitResult::kStarted);
    const TaskOutcome outcome = observer_.outcome(result.task);
    EXPECT_TRUE(outcome.succeeded()) << outcome.failure;
    EXPECT_EQ(outcome.members, 7);
    EXPECT_EQ(stored_accounts("茶叶"), kTeaAccounts);
    const std::vector<ContactRecord> rows = stored_rows("茶叶");
    ASSERT_EQ(rows.size(), 7U);
    EXPECT_EQ(rows[0], kMingqianRecord);
    EXPECT_EQ(rows[1], kShanquanRecord);
    EXPECT_EQ(rows[2], kMingqianRecord);
    EXPECT_EQ(rows[3], kYunwuRecord);
    EXPECT_FALSE(observer_.out_of_order());

    const std::vector<std::string> keys = asked();
    for (int page = 1; page <= 4; ++page) {
        EXPECT_EQ(std::count(keys.begin(), keys.end(), kTeaPage + std::to_string(page)), 1) << page;
    }
    EXPECT_EQ(std::count(keys.begin(), keys.end(), kTeaPage + "5"), 0);
    // The task list's count follows the list as it grows, and ends at all of it.
    ASSERT_FALSE(observer_.task_rows().empty());
    EXPECT_EQ(observer_.task_rows().back().total, 7);
    const CollectionState state = state_of("茶叶");
    EXPECT_EQ(state.members, kTeaAccounts);
    EXPECT_EQ(state.next_page, 0);
    EXPECT_TRUE(state.complete());
}

// Started over, the rows are replaced once, by the first page's list: the
// rows of its members, stored while later pages are read, stay.
TEST_F(ProfileSiteCollectionTest, StartedOverTheRowsAreReplacedOnce) {
    ASSERT_EQ(collect("茶叶", 3).kind, SubmitResult::kStarted);
    CollectionEngine engine(store(), hosts(), observer_, 3, site_);
    const SubmitResult again = engine.submit_keyword("茶叶", true);
    engine.wait_all();
    ASSERT_EQ(again.kind, SubmitResult::kStarted);
    EXPECT_TRUE(observer_.outcome(again.task).succeeded());
    EXPECT_EQ(stored_accounts("茶叶"), kTeaAccounts);
    EXPECT_TRUE(state_of("茶叶").complete());
}

// One request at a time: every result page first, then each member's card
// and contact page, in list order.
TEST_F(ProfileSiteCollectionTest, OneAtATimeReadsTheResultPagesBeforeAnyMember) {
    const SubmitResult result = collect("茶叶", 1);
    EXPECT_TRUE(observer_.outcome(result.task).succeeded());
    std::vector<std::string> expected;
    for (int page = 1; page <= 4; ++page) {
        expected.push_back(kTeaPage + std::to_string(page));
    }
    for (const std::string& account : kTeaAccounts) {
        expected.push_back("shop/card/" + account);
        expected.push_back("shop/contact/" + account);
    }
    EXPECT_EQ(asked(), expected);
    EXPECT_EQ(stored_accounts("茶叶"), kTeaAccounts);
    EXPECT_EQ(observer_.task_rows(),
              (std::vector<RecordingObserver::TaskRow>{{result.task, "茶叶", 7}}));
}

// A later result page that still fails after its retries ends the reading:
// the first page's members are stored, the keyword stays incomplete, and a
// resume reads on from that page to the rows of a run that never failed.
TEST_F(ProfileSiteCollectionTest, AFailedLaterPageIsReadWhenTheKeywordIsResumed) {
    for (const int parallel : {1, 3}) {
        SCOPED_TRACE(parallel);
        market_.clear_behaviours();
        market_.clear_requests();
        const std::string keyword = "茶叶";
        store().forget({keyword}, nullptr);  // the run before
        market_.set_behaviour(kTeaPage + "2", {.status = 500});
        const SubmitResult failed = collect(keyword, parallel);
        ASSERT_EQ(failed.kind, SubmitResult::kStarted);
        const TaskOutcome outcome = observer_.outcome(failed.task);
        EXPECT_FALSE(outcome.completed);
        EXPECT_EQ(outcome.failure.rfind("search page 2: ", 0), 0U) << outcome.failure;
        EXPECT_EQ(outcome.failure_chinese, "搜索页第2页服务器返回 500");
        EXPECT_EQ(outcome.members, 4);
        EXPECT_EQ(stored_accounts(keyword),
                  (std::vector<std::string>(kTeaAccounts.begin(), kTeaAccounts.begin() + 4)));
        CollectionState state = state_of(keyword);
        EXPECT_EQ(state.next_page, 2);
        EXPECT_FALSE(state.complete());

        market_.clear_behaviours();
        market_.clear_requests();
        const SubmitResult resumed = collect(keyword, parallel);
        ASSERT_EQ(resumed.kind, SubmitResult::kResumed);
        EXPECT_TRUE(observer_.outcome(resumed.task).succeeded());
        EXPECT_EQ(observer_.outcome(resumed.task).members, 7);
        const std::vector<std::string> keys = asked();
        EXPECT_EQ(std::count(keys.begin(), keys.end(), kTeaPage + "1"), 0);
        EXPECT_EQ(std::count(keys.begin(), keys.end(), "shop/card/mingqian"), 0);
        EXPECT_EQ(stored_accounts(keyword), kTeaAccounts);
        const std::vector<ContactRecord> rows = stored_rows(keyword);
        ASSERT_EQ(rows.size(), 7U);
        EXPECT_EQ(rows[2], kMingqianRecord);
        EXPECT_TRUE(state_of(keyword).complete());
    }
}

// A block page in place of a later result page is no answer either.
TEST_F(ProfileSiteCollectionTest, ABlockedLaterPageEndsTheReadingAsFailed) {
    market_.set_behaviour(kTeaPage + "3", {.block_times = 4});
    const SubmitResult result = collect("茶叶", 2);
    const TaskOutcome outcome = observer_.outcome(result.task);
    EXPECT_FALSE(outcome.completed);
    EXPECT_EQ(outcome.failure_chinese.rfind("搜索页第3页被拦截（", 0), 0U)
        << outcome.failure_chinese;
    EXPECT_NE(outcome.failure.find("search page 3: blocked by the site"), std::string::npos)
        << outcome.failure;
    EXPECT_EQ(stored_accounts("茶叶"),
              (std::vector<std::string>(kTeaAccounts.begin(), kTeaAccounts.begin() + 6)));
    EXPECT_EQ(state_of("茶叶").next_page, 3);
}

}  // namespace
}  // namespace qinglan
