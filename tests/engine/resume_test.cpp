// Collections that meet failures: pages tried again, failures counted rather
// than stored, and keywords resumed, started over or refused.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "engine/collection_engine.h"
#include "marketplace_fixture.h"
#include "recording_observer.h"
#include "tests/marketplace_pages.h"

namespace qinglan {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ResumeTest : public MarketplaceFixture {
protected:
    // The requests so far whose target carries `needle`.
    int requests_with(const std::string& needle) const {
        int count = 0;
        for (const auto& request : market_.requests()) {
            count += request.target.find(needle) != std::string::npos ? 1 : 0;
        }
        return count;
    }

    std::vector<std::string> stored_accounts(const std::string& table) {
        std::vector<std::string> accounts;
        for (const ContactRecord& row : stored_rows(table)) {
            accounts.push_back(row[kAccount]);
        }
        return accounts;
    }

    // Runs one collection of `keyword` to its end on a fresh engine and
    // observer, as a new run of the program would, one member at a time so
    // that the requests can be counted.
    SubmitResult collect(const std::string& keyword, bool again = false) {
        observer_ = std::make_unique<RecordingObserver>();
        CollectionEngine engine(store(), hosts(), *observer_, 1);
        EXPECT_TRUE(engine.read_table_names(nullptr));
        const SubmitResult result = engine.submit_keyword(keyword, again);
        engine.wait_all();
        return result;
    }

    std::unique_ptr<RecordingObserver> observer_ = std::make_unique<RecordingObserver>();
};

TEST_F(ResumeTest, SearchHostDownFailsHonestlyAndTheNextRunCollects) {
    serve_members(market_, "手机", "m", 3);
    const std::uint16_t port = market_.port();
    market_.stop();

    EXPECT_EQ(collect("手机").kind, SubmitResult::kStarted);
    const TaskOutcome failed = observer_->outcome(1);
    EXPECT_FALSE(failed.succeeded());
    EXPECT_FALSE(failed.completed);
    EXPECT_EQ(failed.failure.substr(0, 27), "search page: cannot connect") << failed.failure;
    EXPECT_TRUE(observer_->task_rows().empty());
    const auto statuses = observer_->statuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back().text.rfind("失败：搜索页无法连接服务器（cannot connect", 0), 0U)
        << statuses.back().text;

    // Stored as a table, but not locked: the keyword is collected next time.
    ASSERT_TRUE(market_.start(port));
    EXPECT_EQ(collect("手机").kind, SubmitResult::kResumed);
    EXPECT_TRUE(observer_->outcome(1).succeeded());
    EXPECT_EQ(stored_accounts("手机"), (std::vector<std::string>{"m0", "m1", "m2"}));
}

TEST_F(ResumeTest, AnswersOfOverloadAreTriedAgain) {
    serve_members(market_, "重试", "r", 2);
    market_.set_behaviour("card/r0", {.fail_times = 2, .fail_status = 503});
    market_.set_behaviour(
        "card/r1", {.extra_headers = {"Retry-After: 1"}, .fail_times = 1, .fail_status = 429});
    const auto start = Clock::now();
    collect("重试");
    EXPECT_GE(Clock::now() - start, 900ms);  // the server's Retry-After, not 10 ms

    EXPECT_TRUE(observer_->outcome(1).succeeded());
    EXPECT_EQ(stored_accounts("重试"), (std::vector<std::string>{"r0", "r1"}));
    EXPECT_EQ(requests_with("loginId=r0"), 3);
    EXPECT_EQ(requests_with("loginId=r1"), 2);
}

TEST_F(ResumeTest, AFailingMemberIsCountedNotStoredAndResumedInPlace) {
    serve_members(market_, "缺", "c", 4);
    // Other answers of 4xx are pages like any other, and not tried again.
    market_.set_behaviour("card/c0", {.status = 404});
    market_.set_behaviour("card/c2", {.fail_times = 1000});
    collect("缺");

    const TaskOutcome first = observer_->outcome(1);
    EXPECT_TRUE(first.completed);
    EXPECT_FALSE(first.succeeded());
    EXPECT_EQ(first.failed_members, 1);
    EXPECT_EQ(first.stored, 3);
    EXPECT_EQ(first.member_failure, "card of c2: server answered 503");
    EXPECT_EQ(observer_->done(1), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(requests_with("loginId=c0"), 1);
    EXPECT_EQ(requests_with("loginId=c2"), 4);
    EXPECT_EQ(requests_with("contact/c2"), 0);  // its card failed: nothing more asked
    EXPECT_EQ(stored_accounts("缺"), (std::vector<std::string>{"c0", "c1", "c3"}));

    // Mended, the member is fetched alone and its row follows the stored ones.
    market_.clear_behaviours();
    market_.clear_requests();
    const SubmitResult resumed = collect("缺");
    EXPECT_EQ(resumed.kind, SubmitResult::kResumed);
    EXPECT_EQ(resumed.stored_rows, 3);
    EXPECT_TRUE(observer_->outcome(1).succeeded());
    EXPECT_EQ(observer_->outcome(1).stored_before, 3);
    EXPECT_EQ(stored_accounts("缺"), (std::vector<std::string>{"c0", "c1", "c3", "c2"}));
    EXPECT_EQ(requests_with("company_search"), 0);  // the saved member list stands
    EXPECT_EQ(requests_with("loginId="), 1);
    // Cells of the resumed row come after the rows shown from the database.
    const auto cells = observer_->cells(1);
    ASSERT_FALSE(cells.empty());
    EXPECT_EQ(std::get<0>(cells.front()), 3);
    EXPECT_EQ(observer_->done(1), (std::vector<int>{3, 4}));

    EXPECT_EQ(collect("缺").kind, SubmitResult::kReopened);
}

TEST_F(ResumeTest, StopEndsAWaitBetweenTriesAtOnce) {
    serve_members(market_, "等", "w", 1);
    market_.set_behaviour("card/w0", {.extra_headers = {"Retry-After: 60"}, .fail_times = 1000});
    CollectionEngine engine(store(), hosts(), *observer_);
    engine.submit_keyword("等");
    const auto deadline = Clock::now() + 5s;
    while (requests_with("loginId=w0") == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(100ms);
    const auto start = Clock::now();
    engine.stop();
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_FALSE(observer_->outcome(1).completed);
    EXPECT_EQ(observer_->outcome(1).failed_members, 0);  // stopped, not failed
}

TEST_F(ResumeTest, AgainReplacesTheRowsOnlyOnceANewListIsRead) {
    serve_members(market_, "再", "a", 2);
    collect("再");
    ASSERT_EQ(stored_accounts("再"), (std::vector<std::string>{"a0", "a1"}));

    // A search that fails leaves the stored rows as they were.
    market_.set_behaviour(search_key("再"), {.fail_times = 1000});
    collect("再", true);
    EXPECT_FALSE(observer_->outcome(1).failure.empty());
    EXPECT_EQ(stored_accounts("再"), (std::vector<std::string>{"a0", "a1"}));

    market_.clear_behaviours();
    serve_members(market_, "再", "b", 3);
    EXPECT_EQ(collect("再", true).kind, SubmitResult::kStarted);
    EXPECT_TRUE(observer_->outcome(1).succeeded());
    EXPECT_EQ(stored_accounts("再"), (std::vector<std::string>{"b0", "b1", "b2"}));
}

// A search page that lists no account (a verification page, a login page)
// is no new member list: the rows and the state stay exactly as they were,
// and the task fails saying what the page was.
TEST_F(ResumeTest, AgainKeepsEverythingWhenTheNewPageListsNoAccount) {
    serve_members(market_, "验", "v", 3);
    market_.set_behaviour("card/v1", {.fail_times = 1000});
    collect("验");
    market_.clear_behaviours();
    CollectionState before;
    ASSERT_TRUE(store().read_state("验", &before, nullptr));
    ASSERT_EQ(before.stored, (std::vector<bool>{true, false, true}));

    market_.set_resource(search_key("验"),
                         gbk("<html><head><title>验证码</title></head><body></body></html>"));
    EXPECT_EQ(collect("验", true).kind, SubmitResult::kStarted);
    const TaskOutcome outcome = observer_->outcome(1);
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_EQ(outcome.failure,
              "the search page lists no member account (title \"验证码\", 0 KB); the stored "
              "rows are kept");
    EXPECT_EQ(outcome.failure_chinese,
              "搜索页中没有会员账号（标题“验证码”，0 KB），已保存的数据保持不变");
    EXPECT_EQ(stored_accounts("验"), (std::vector<std::string>{"v0", "v2"}));
    CollectionState after;
    ASSERT_TRUE(store().read_state("验", &after, nullptr));
    EXPECT_EQ(after.members, before.members);
    EXPECT_EQ(after.stored, before.stored);
    EXPECT_TRUE(after.listed);

    // Not started over, so still resumed where it was.
    market_.clear_requests();
    EXPECT_EQ(collect("验").kind, SubmitResult::kResumed);
    EXPECT_TRUE(observer_->outcome(1).succeeded());
    EXPECT_EQ(stored_accounts("验"), (std::vector<std::string>{"v0", "v2", "v1"}));
    EXPECT_EQ(requests_with("company_search"), 0);
}

TEST_F(ResumeTest, AKeywordBeingCollectedElsewhereIsRefusedAndNothingFetched) {
    serve_members(market_, "占", "o", 2);
    std::string error;
    auto other = SqliteStore::open(data_dir_.string(), &error);
    ASSERT_TRUE(other) << error;
    ASSERT_TRUE(other->claim("占", &error)) << error;

    const SubmitResult refused = collect("占");
    EXPECT_EQ(refused.kind, SubmitResult::kRefused);
    EXPECT_EQ(refused.refusal, "it is being collected by another collector");
    EXPECT_TRUE(market_.requests().empty());

    other->release("占");
    EXPECT_EQ(collect("占").kind, SubmitResult::kStarted);
    EXPECT_EQ(stored_accounts("占").size(), 2U);
    // A claim ends with its task: the keyword is free for others again.
    ASSERT_TRUE(other->claim("占", &error)) << error;
}

TEST_F(ResumeTest, TablesFromBeforeStatesWereKeptCountAsComplete) {
    // Written as older versions wrote: a table and rows, no state.
    ASSERT_TRUE(store().execute("CREATE TABLE \"旧\" (\"编号\" TEXT, \"公司名称\" TEXT)", nullptr));
    CollectionState state;
    ASSERT_TRUE(store().read_state("旧", &state, nullptr));
    EXPECT_FALSE(state.tracked);
    EXPECT_TRUE(state.complete());
    EXPECT_EQ(collect("旧").kind, SubmitResult::kReopened);
    EXPECT_TRUE(market_.requests().empty());
}

}  // namespace
}  // namespace qinglan
