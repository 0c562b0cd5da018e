// A site of another shape than the built-in one: three pages per member,
// its own result list and its own addresses, against the sample marketplace.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/collection_engine.h"
#include "engine/site/site.h"
#include "marketplace_fixture.h"
#include "recording_observer.h"

namespace qinglan {
namespace {

using namespace std::chrono_literals;

// Lists the accounts of a plain result page ("a1 b2 c3"); each member has
// the pages one, two and three; the record holds the three texts.
class ThreePageSite : public Site {
public:
    std::string name() const override { return "三页"; }
    int pages() const override { return 1; }
    bool search_address(const MarketHosts& hosts, const std::string& keyword, int page,
                        Text* address, std::string* /*refusal*/) const override {
        *address = "http://" + hosts.search_host + "/list-" + keyword + "-" + std::to_string(page) +
                   ".txt";
        return true;
    }
    Text page_text(std::string_view body, std::string_view /*content_type*/) const override {
        return Text(body);
    }
    TextList accounts(std::string_view result_page) const override {
        std::istringstream words{std::string(result_page)};
        TextList list;
        for (std::string word; words >> word;) {
            list.push_back(word);
        }
        return list;
    }
    bool requestable(std::string_view account) const override { return !account.empty(); }
    const std::vector<MemberPage>& member_pages() const override { return pages_; }
    // Its member pages, never its result list, may be the marketplace's
    // verification page.
    bool blocked(std::string_view page, bool search_page,
                 std::string_view /*keyword*/) const override {
        ++judged;
        return !search_page && page.find("Verify you are human") != std::string_view::npos;
    }
    bool may_block(bool search_page) const override { return !search_page; }
    Text member_page_address(const MarketHosts& hosts, std::size_t page,
                             std::string_view account) const override {
        return "http://" + hosts.member_host + "/m/" + std::string(account) + "/" +
               pages_[page].name;
    }
    ContactRecord record(std::string_view account, const TextList& pages,
                         const CellSink& on_cell) const override {
        ContactRecord record;
        record[kCompanyName] = pages.at(0);
        record[kContactName] = pages.at(1);
        record[kAccount] = account;
        record[kDepartment] = pages.at(2);
        for (int field = 0; field < kRecordFields; ++field) {
            on_cell(field, record[static_cast<std::size_t>(field)]);
        }
        return record;
    }

    // How often a page was read for a block: reading one costs the site
    // a conversion and a scan of the whole page.
    mutable std::atomic<int> judged{0};

private:
    const std::vector<MemberPage> pages_ = {
        {"one", "first page"}, {"two", "second page"}, {"three", "third page"}};
};

class SitePagesTest : public MarketplaceFixture {
protected:
    // The keyword "k" lists `accounts`; each of their pages answers with
    // "<account>/<page>".
    void serve(const std::vector<std::string>& accounts) {
        std::string list;
        for (const std::string& account : accounts) {
            list += account + " ";
            for (const char* page : {"one", "two", "three"}) {
                market_.set_resource("m/" + account + "/" + page, account + "/" + page,
                                     "text/plain");
            }
        }
        market_.set_resource("list-k-1.txt", list, "text/plain");
    }

    // Collects "k" with the three-page site; the task's number.
    int collect(int parallel,
                std::shared_ptr<const ThreePageSite> site = std::make_shared<ThreePageSite>()) {
        CollectionEngine engine(store(), hosts(), observer_, parallel, std::move(site));
        const SubmitResult result = engine.submit_keyword("k");
        EXPECT_EQ(result.kind, SubmitResult::kStarted);
        engine.wait_all();
        return result.task;
    }

    std::vector<std::string> requested_keys() const {
        std::vector<std::string> keys;
        for (const auto& request : market_.requests()) {
            keys.push_back(request.resource_key);
        }
        return keys;
    }

    static ContactRecord row(const std::string& account) {
        ContactRecord record;
        record[kCompanyName] = account + "/one";
        record[kContactName] = account + "/two";
        record[kAccount] = account;
        record[kDepartment] = account + "/three";
        return record;
    }

    RecordingObserver observer_;
};

TEST_F(SitePagesTest, OneAtATimeAsksForEveryPageInTheSitesOrder) {
    serve({"a1", "b2"});
    market_.set_default_behaviour({.delay_ms = 100});
    const int task = collect(1);

    EXPECT_EQ(requested_keys(),
              (std::vector<std::string>{"list-k-1.txt", "m/a1/one", "m/a1/two", "m/a1/three",
                                        "m/b2/one", "m/b2/two", "m/b2/three"}));
    // Each request came once the answer before it, 100 ms late, was in
    // (less a little: a request counts from its head, a delay from later).
    const auto requests = market_.requests();
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_GE(requests[i].received_at - requests[i - 1].received_at, 80ms) << i;
    }
    const std::vector<ContactRecord> expected = {row("a1"), row("b2")};
    EXPECT_EQ(observer_.rows(task), expected);
    EXPECT_EQ(stored_rows("k"), expected);
    EXPECT_EQ(observer_.cells(task).size(), 2U * kRecordFields);
    EXPECT_TRUE(observer_.outcome(task).completed);
}

TEST_F(SitePagesTest, SeveralAtATimeAsksForAllPagesOfAMemberAtOnce) {
    serve({"a1"});
    // Slow answers: the three pages are on the server together only when
    // they were asked for together.
    market_.set_default_behaviour({.delay_ms = 300});
    const int task = collect(2);

    EXPECT_EQ(market_.most_at_once(), 3);
    EXPECT_EQ(observer_.rows(task), std::vector<ContactRecord>{row("a1")});
    EXPECT_EQ(stored_rows("k"), std::vector<ContactRecord>{row("a1")});
    EXPECT_TRUE(observer_.outcome(task).completed);
}

TEST_F(SitePagesTest, AFailedFirstPageSkipsTheMembersOtherPagesOneAtATime) {
    serve({"a1", "b2", "c3"});
    market_.set_behaviour("m/b2/one", {.drop_after = 0});
    const int task = collect(1);

    for (const std::string& key : requested_keys()) {
        EXPECT_TRUE(key != "m/b2/two" && key != "m/b2/three") << key;
    }
    const std::vector<ContactRecord> expected = {row("a1"), row("c3")};
    EXPECT_EQ(observer_.rows(task), expected);
    EXPECT_EQ(stored_rows("k"), expected);
    const TaskOutcome outcome = observer_.outcome(task);
    EXPECT_EQ(outcome.failed_members, 1);
    EXPECT_EQ(outcome.member_failure.rfind("first page of b2: ", 0), 0U) << outcome.member_failure;
}

TEST_F(SitePagesTest, ABlockedMemberPageIsTriedAgainAndNeverStored) {
    serve({"a1", "b2", "c3"});
    market_.set_behaviour("m/a1/two", {.block_times = 2});  // lifts within the tries
    market_.set_behaviour("m/b2/two", {.block_times = 4});  // every try
    const int task = collect(1);

    int asked_a1 = 0, asked_b2 = 0;
    for (const std::string& key : requested_keys()) {
        asked_a1 += key == "m/a1/two" ? 1 : 0;
        asked_b2 += key == "m/b2/two" ? 1 : 0;
        EXPECT_NE(key, "m/b2/three");
    }
    EXPECT_EQ(asked_a1, 3);
    EXPECT_EQ(asked_b2, 4);
    const std::vector<ContactRecord> expected = {row("a1"), row("c3")};
    EXPECT_EQ(stored_rows("k"), expected);
    const TaskOutcome outcome = observer_.outcome(task);
    EXPECT_FALSE(outcome.completed && outcome.failed_members == 0);
    EXPECT_EQ(outcome.failed_members, 1);
    EXPECT_EQ(outcome.member_failure,
              "second page of b2: blocked by the site (\"Verify you are human\")");
}

// The transfer loop's verdict on each answer is the one the steps go by:
// no page is read for a block twice.
TEST_F(SitePagesTest, EachAnswerIsJudgedOnce) {
    serve({"a1", "b2"});
    market_.set_behaviour("m/a1/two", {.block_times = 2});  // lifts within the tries
    market_.set_behaviour("m/b2/two", {.block_times = 4});  // every try
    const auto site = std::make_shared<ThreePageSite>();
    const int task = collect(2, site);

    // Every answer but the result list's, retries included.
    EXPECT_EQ(site->judged, static_cast<int>(requested_keys().size()) - 1);
    EXPECT_EQ(observer_.rows(task), std::vector<ContactRecord>{row("a1")});
    EXPECT_EQ(observer_.outcome(task).member_failure,
              "second page of b2: blocked by the site (\"Verify you are human\")");
}

// Above one at a time all pages go at once: of two failed pages, the
// earlier one in the site's order names the failure.
TEST_F(SitePagesTest, TheEarliestFailedPageNamesTheFailure) {
    serve({"a1"});
    // The later page fails first.
    market_.set_behaviour("m/a1/two", {.drop_after = 0, .delay_ms = 200});
    market_.set_behaviour("m/a1/three", {.drop_after = 0});
    const int task = collect(2);

    const TaskOutcome outcome = observer_.outcome(task);
    EXPECT_EQ(outcome.failed_members, 1);
    EXPECT_EQ(outcome.member_failure.rfind("second page of a1: ", 0), 0U) << outcome.member_failure;
    EXPECT_TRUE(observer_.rows(task).empty());
}

}  // namespace
}  // namespace qinglan
