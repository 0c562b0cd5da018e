// Faults while collecting: the marketplace going away, the disk filling up,
// and documents no marketplace should send.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
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

class FaultTest : public MarketplaceFixture {
protected:
    void serve_members(const std::string& keyword, int count, int delay_ms) {
        qinglan::serve_members(market_, keyword, "f", count, delay_ms);
    }

    void wait_for_done(int task, int done) {
        const auto deadline = Clock::now() + 10s;
        while (static_cast<int>(observer_.done(task).size()) < done && Clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_GE(static_cast<int>(observer_.done(task).size()), done);
    }

    RecordingObserver observer_;
};

TEST_F(FaultTest, MarketplaceGoingAwayFailsTheRestUntilItComesBack) {
    serve_members("停机", 30, 30);
    {
        CollectionEngine engine(store(), hosts(), observer_);
        engine.submit_keyword("停机");
        wait_for_done(1, 5);
        const std::uint16_t port = market_.port();
        market_.stop();
        const auto start = Clock::now();
        engine.wait_all();
        EXPECT_LT(Clock::now() - start, 10s);
        ASSERT_TRUE(market_.start(port));
    }
    // Every member was tried; those after the stop failed and were not
    // stored, rather than stored empty.
    const TaskOutcome first = observer_.outcome(1);
    EXPECT_TRUE(first.completed);
    EXPECT_FALSE(first.succeeded());
    EXPECT_GE(first.stored, 5);
    EXPECT_EQ(first.stored + first.failed_members, 30);
    EXPECT_NE(first.member_failure.find("cannot connect"), std::string::npos)
        << first.member_failure;
    EXPECT_EQ(static_cast<int>(stored_rows("停机").size()), first.stored);

    // Submitted again, the keyword collects only what is missing, in order.
    market_.clear_requests();
    CollectionEngine engine(store(), hosts(), observer_);
    ASSERT_TRUE(engine.read_table_names(nullptr));
    const SubmitResult again = engine.submit_keyword("停机");
    EXPECT_EQ(again.kind, SubmitResult::kResumed);
    EXPECT_EQ(again.stored_rows, first.stored);
    engine.wait_all();
    EXPECT_TRUE(observer_.outcome(1).succeeded());
    const auto rows = stored_rows("停机");
    ASSERT_EQ(rows.size(), 30U);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][kAccount], "f" + std::to_string(i));
    }
    EXPECT_EQ(static_cast<int>(market_.requests().size()), 2 * first.failed_members);
    EXPECT_EQ(engine.submit_keyword("停机").kind, SubmitResult::kReopened);
}

TEST_F(FaultTest, FullDatabaseIsReportedAndKeepsWhatItHolds) {
    serve_members("满", 400, 0);
    CollectionEngine engine(store(), hosts(), observer_);
    engine.submit_keyword("满");
    wait_for_done(1, 20);
    // From now on the file may not grow: the disk is full.
    ASSERT_TRUE(store().execute("PRAGMA max_page_count = 1", nullptr));
    engine.wait_all();

    const TaskOutcome outcome = observer_.outcome(1);
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.handled, 400);
    EXPECT_GT(outcome.failed_inserts, 0);
    EXPECT_GE(outcome.stored, 20);
    EXPECT_EQ(outcome.stored + outcome.failed_inserts, 400);
    ASSERT_FALSE(observer_.failures(1).empty());
    EXPECT_NE(observer_.failures(1).front().find("full"), std::string::npos)
        << observer_.failures(1).front();
    EXPECT_EQ(static_cast<int>(stored_rows("满").size()), outcome.stored);
}

TEST_F(FaultTest, HugeAndHostileDocuments) {
    FetchSettings settings = fetch_settings();
    settings.max_page_bytes = 64u << 20;
    set_fetch_settings(settings);
    // A search page of 50 MiB whose members stand at its very end.
    std::string page(50u << 20, 'x');
    page += R"( companyId="big" companyId="rnd")";
    market_.set_resource(search_key("大"), page);
    // A card with a value of 1 MiB.
    const std::string huge_name(1u << 20, 'N');
    market_.set_resource("card/big", R"({"name":")" + huge_name + R"(","memberId":"big","x":1})");
    // Random bytes for the other member's card and contact page.
    std::mt19937 random(42);
    std::string noise(256 * 1024, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    market_.set_resource("card/rnd", noise);
    market_.set_resource("contact/rnd", noise);

    CollectionEngine engine(store(), hosts(), observer_);
    const auto start = Clock::now();
    engine.submit_keyword("大");
    engine.wait_all();
    EXPECT_LT(Clock::now() - start, 20s);
    const auto rows = stored_rows("大");
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0][kCompanyName], huge_name);
    EXPECT_EQ(rows[0][kAccount], "big");
    EXPECT_EQ(rows[1][kFormOfAddress], "女士");

    // Past the size cap the same page fails, and is not tried again.
    settings.max_page_bytes = 16u << 20;
    set_fetch_settings(settings);
    market_.clear_requests();
    ASSERT_TRUE(store().forget({"大"}, nullptr));
    CollectionEngine capped(store(), hosts(), observer_);
    capped.submit_keyword("大");
    capped.wait_all();
    EXPECT_EQ(observer_.outcome(1).failure.substr(0, 27), "search page: page too large");
    EXPECT_EQ(market_.requests().size(), 1U);
}

}  // namespace
}  // namespace qinglan
