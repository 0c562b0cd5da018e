// Faults while collecting: the marketplace going away, the disk filling up,
// and documents no marketplace should send.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

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

TEST_F(FaultTest, AFailedCardIsFollowedByItsContactPageOnlyWhenBothGoAtOnce) {
    for (const int parallel : {1, 2}) {
        const std::string prefix = "p" + std::to_string(parallel) + "m";
        const std::string keyword = "断" + std::to_string(parallel);
        qinglan::serve_members(market_, keyword, prefix, 3);
        // Cut off on every try: the card fails once its retries are spent.
        market_.set_behaviour("card/" + prefix + "1", {.drop_after = 0});
        market_.clear_requests();
        RecordingObserver observer;
        CollectionEngine engine(store(), hosts(), observer, parallel);
        const int task = engine.submit_keyword(keyword).task;
        engine.wait_all();

        std::vector<std::string> order;
        for (const ReceivedRequest& request : market_.requests()) {
            if (order.empty() || order.back() != request.resource_key) {
                order.push_back(request.resource_key);
            }
        }
        const TaskOutcome outcome = observer.outcome(task);
        EXPECT_EQ(outcome.failed_members, 1) << parallel;
        EXPECT_EQ(outcome.member_failure.rfind("card of " + prefix + "1: ", 0), 0U)
            << outcome.member_failure;
        EXPECT_EQ(stored_rows(keyword).size(), 2U) << parallel;
        const auto contact = std::find(order.begin(), order.end(), "contact/" + prefix + "1");
        if (parallel == 1) {
            // One page at a time: the contact page of the failed card is
            // never asked for, and the next member follows at once.
            EXPECT_EQ(order, (std::vector<std::string>{
                                 search_key(keyword), "card/" + prefix + "0",
                                 "contact/" + prefix + "0", "card/" + prefix + "1",
                                 "card/" + prefix + "2", "contact/" + prefix + "2"}));
        } else {
            EXPECT_NE(contact, order.end());
        }
        market_.clear_behaviours();
    }
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

TEST_F(FaultTest, ZeroBytesEndNeitherAPageNorAValue) {
    const std::string zero(1, '\0');
    // A zero byte between two members, and one inside the second's account.
    market_.set_resource(search_key("零"),
                         "<p> companyId=\"z0\"" + zero + " companyId=\"z" + zero + "1\"");
    // Zero bytes inside values and between them, before the fields they
    // used to blank.
    market_.set_resource("card/z0", R"({"name":"Qing)" + zero + R"(Lan","memberId":"z0","x":2,)" +
                                        zero + R"("telephone":"0571)" + zero +
                                        R"(-1","sex":"m","address":"Addr","zipCode":"310000",)" +
                                        R"("homePage":"[http://q)" + zero + R"(.cn]","x":1})");
    market_.set_resource("contact/z0", zero + "<title>Qing 139" + zero + "55556666</title>");
    market_.set_resource("card/z1", R"({"name":"Second","memberId":"z1","x":1})");

    CollectionEngine engine(store(), hosts(), observer_);
    engine.submit_keyword("零");
    engine.wait_all();
    EXPECT_TRUE(observer_.outcome(1).succeeded());
    const auto rows = stored_rows("零");
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0][kCompanyName], "QingLan");
    EXPECT_EQ(rows[0][kAccount], "z0");
    EXPECT_EQ(rows[0][kTelephone], "0571-1");
    EXPECT_EQ(rows[0][kFormOfAddress], "先生");
    EXPECT_EQ(rows[0][kMobile], "13955556666");
    EXPECT_EQ(rows[0][kAddress], "Addr");
    EXPECT_EQ(rows[0][kPostalCode], "310000");
    EXPECT_EQ(rows[0][kWebsite], "http://q.cn");
    EXPECT_EQ(rows[1][kCompanyName], "Second");
    for (const ContactRecord& row : rows) {
        for (const std::string& value : row) {
            EXPECT_EQ(value.find('\0'), std::string::npos);
        }
    }
    // Nor does the member list kept for a later run hold one.
    CollectionState state;
    ASSERT_TRUE(store().read_state("零", &state, nullptr));
    EXPECT_EQ(state.members, (std::vector<std::string>{"z0", "z1"}));
}

TEST_F(FaultTest, AccountsThatWouldSteerARequestAreNotRequested) {
    // Another server on the loopback, which no request may reach.
    SampleMarketplace other;
    ASSERT_TRUE(other.start());
    const std::string steal = "127.0.0.1:" + std::to_string(other.port()) + "/steal?";
    const std::vector<std::string> steering = {steal, "x@y",   "p%41",  "q#r",  "b\\s",
                                               "a b", "t\tab", "c\x7F", "n\x01"};
    std::string page = "<p> companyId=\"ok0\"";
    for (const std::string& account : steering) {
        page += " companyId=\"" + account + "\"";
    }
    page += " companyId=\"a-b_c.d\"";
    market_.set_resource(search_key("偷"), page);
    const std::vector<std::string> plain = {"ok0", "a-b_c.d"};
    for (const std::string& account : plain) {
        market_.set_resource("card/" + account,
                             R"({"name":"Co","memberId":")" + account + R"(","x":1})");
    }

    CollectionEngine engine(store(), hosts(), observer_);
    engine.submit_keyword("偷");
    engine.wait_all();
    other.stop();
    EXPECT_TRUE(other.requests().empty());
    // The search page, then each plain account's card and contact page on
    // their own hosts; nothing else.
    std::vector<std::string> asked;
    for (const ReceivedRequest& request : market_.requests()) {
        asked.push_back(request.host + request.target);
    }
    std::vector<std::string> expected = {market_.search_host() +
                                         "/company/company_search.htm?keywords=%CD%B5&n=y"};
    for (const std::string& account : plain) {
        expected.push_back(market_.member_host() +
                           "/member/ajax/memberCardJson.htm?callback="
                           "jQuery16405435396444518119_1324703458289&loginId=" +
                           account + "&checkLogin=y");
        expected.push_back(account + "." + market_.contact_domain() + "/athena/contact/" + account +
                           ".html");
    }
    std::sort(asked.begin(), asked.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(asked, expected);

    // Each steering account is a failed member: not stored, the keyword
    // left incomplete.
    const auto rows = stored_rows("偷");
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0][kAccount], "ok0");
    EXPECT_EQ(rows[1][kAccount], "a-b_c.d");
    const TaskOutcome outcome = observer_.outcome(1);
    EXPECT_TRUE(outcome.completed);
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_EQ(outcome.failed_members, static_cast<int>(steering.size()));
    EXPECT_EQ(outcome.member_failure,
              "card of " + steal + ": the account holds a character that cannot be requested");
    CollectionState state;
    ASSERT_TRUE(store().read_state("偷", &state, nullptr));
    EXPECT_FALSE(state.complete());
}

}  // namespace
}  // namespace qinglan
