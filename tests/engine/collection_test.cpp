#include "engine/collection_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "marketplace_fixture.h"
#include "recording_observer.h"

namespace qinglan {
namespace {

using namespace std::chrono_literals;

const ContactRecord kAlpha = {"杭州青岚贸易有限公司",
                              "张三",
                              "alpha",
                              "销售部",
                              "经理",
                              "先生",
                              "0571-88886666",
                              "0571-88886667",
                              "13955556666",
                              "浙江省杭州市西湖区文三路1号",
                              "310000",
                              "http://www.qinglan-demo.cn"};
// "M" is not "m"; no homePage; the title's 130 number wins over its 139 one.
const ContactRecord kBeta = {"宁波北仑电子厂", "李四",
                             "beta",           "外贸部",
                             "业务员",         "女士",
                             "0574-86001234",  "",
                             "13087654321",    "浙江省宁波市北仑区",
                             "315800",         ""};
// No sex, no fax, a "]" only beyond the web site's window, a short number.
const ContactRecord kGamma = {"义乌小商品批发", "王五",         "gamma",         "",
                              "老板",           "女士",         "0579-85551234", "",
                              "1385555",        "浙江省义乌市", "322000",        ""};
// Escapes kept, a line break kept, a single quote stored, a number with dashes refused.
const ContactRecord kDelta = {"Qing\\/Lan \\u4e2d Export",
                              "O'Brien",
                              "delta",
                              "采购部",
                              "主管",
                              "女士",
                              "021-5555",
                              "021-5556",
                              "",
                              "上海市\n浦东新区",
                              "200120",
                              "http://qinglan.example/a\\/b"};
// A card answered 404 (an answer, not a failure); a long contact page.
const ContactRecord kEpsilon = {"", "", "", "", "", "女士", "", "", "13611112222", "", "", ""};
// A card reached through a redirect; a title spanning two lines.
const ContactRecord kZeta = {"转址公司",    "赵六",         "zeta",      "总经办",
                             "总经理",      "先生",         "0512-1234", "0512-1235",
                             "18612345678", "江苏省苏州市", "215000",    ""};

class CollectionTest : public MarketplaceFixture {
protected:
    void serve_rule_members(const std::string& keyword) {
        market_.set_resource(search_key(keyword), saved_page("search.html"));
        for (const char* account : {"alpha", "beta", "gamma", "delta", "zeta-moved"}) {
            market_.set_resource(std::string("card/") + account,
                                 saved_page(std::string("card/") + account + ".json"));
        }
        for (const char* account : {"alpha", "beta", "gamma", "delta", "zeta"}) {
            market_.set_resource(std::string("contact/") + account,
                                 saved_page(std::string("contact/") + account + ".html"));
        }
        market_.set_resource("contact/epsilon",
                             saved_page("contact/epsilon.html") + std::string(5000, 'x'));
        Behaviour moved;
        moved.location =
            "/member/ajax/memberCardJson.htm?callback=cb&loginId=zeta-moved&checkLogin=y";
        market_.set_behaviour("card/zeta", moved);
    }

    // What a task collecting the members of serve_rule_members reports and
    // stores, however many members it has in flight.
    void expect_collected_by_the_rules(const RecordingObserver& observer, int task,
                                       const std::string& keyword) {
        const std::vector<ContactRecord> expected = {kAlpha, kBeta,    kGamma, kDelta,
                                                     kAlpha, kEpsilon, kZeta};
        EXPECT_EQ(observer.rows(task), expected);
        EXPECT_EQ(stored_rows(keyword), expected);
        EXPECT_FALSE(observer.out_of_order());
        EXPECT_EQ(observer.task_rows(),
                  (std::vector<RecordingObserver::TaskRow>{{task, keyword, 7}}));
        EXPECT_EQ(observer.done(task), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
        EXPECT_TRUE(observer.failures(task).empty());
        const TaskOutcome outcome = observer.outcome(task);
        EXPECT_TRUE(outcome.completed);
        EXPECT_EQ(outcome.members, 7);
        EXPECT_EQ(outcome.stored, 7);

        // Status texts in the order they were written.
        std::vector<std::string> texts;
        for (const auto& status : observer.statuses()) {
            texts.push_back(std::to_string(status.part) + ":" + status.text);
        }
        std::vector<std::string> expected_texts = {"0:状态：加载数据，请稍等。。。。",
                                                   "0:状态：加载完成"};
        for (int i = 1; i <= 7; ++i) {
            expected_texts.push_back("1:正在分析用户" + std::to_string(i) + "/7位的信息");
        }
        expected_texts.push_back("1:7位用户信息分析完成可以导出");
        EXPECT_EQ(texts, expected_texts);

        // Cells arrive field by field in column order, one row after the other.
        const auto cells = observer.cells(task);
        ASSERT_EQ(cells.size(), 7U * kRecordFields);
        for (std::size_t k = 0; k < cells.size(); ++k) {
            EXPECT_EQ(std::get<0>(cells[k]), static_cast<int>(k / kRecordFields));
            EXPECT_EQ(std::get<1>(cells[k]), static_cast<int>(k % kRecordFields));
        }
    }

    // The request targets, in order, that carry `needle`.
    std::vector<std::string> targets_with(const std::string& needle) {
        std::vector<std::string> targets;
        for (const auto& request : market_.requests()) {
            if (request.target.find(needle) != std::string::npos) {
                targets.push_back(request.target);
            }
        }
        return targets;
    }

    RecordingObserver observer_;
};

TEST_F(CollectionTest, CollectsEveryMemberByTheRules) {
    const std::string keyword = "手机";
    serve_rule_members(keyword);
    CollectionEngine engine(store(), hosts(), observer_, 1);
    ASSERT_TRUE(engine.read_table_names(nullptr));
    const SubmitResult result = engine.submit_keyword(keyword);
    ASSERT_EQ(result.kind, SubmitResult::kStarted);
    EXPECT_TRUE(result.table_ready);
    EXPECT_EQ(result.task, 1);
    engine.wait_all();

    expect_collected_by_the_rules(observer_, 1, keyword);

    // One search, then per member its card before its contact page.
    const auto requests = market_.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].target, "/company/company_search.htm?keywords=%CA%D6%BB%FA&n=y");
    std::vector<std::string> order;
    for (const auto& request : requests) {
        order.push_back(request.resource_key);
    }
    EXPECT_EQ(order, (std::vector<std::string>{
                         "search/%CA%D6%BB%FA", "card/alpha", "contact/alpha", "card/beta",
                         "contact/beta", "card/gamma", "contact/gamma", "card/delta",
                         "contact/delta", "card/alpha", "contact/alpha", "card/epsilon",
                         "contact/epsilon", "card/zeta", "card/zeta-moved", "contact/zeta"}));
}

TEST_F(CollectionTest, MembersInFlightAtOnceKeepThePageOrder) {
    // Answers that come back in another order than they were asked for.
    const std::pair<const char*, int> delays[] = {
        {"card/alpha", 120}, {"contact/beta", 90}, {"card/gamma", 10}, {"contact/delta", 60}};
    for (int parallel : {2, 8}) {
        const std::string keyword = "手机" + std::to_string(parallel);
        serve_rule_members(keyword);
        for (const auto& [key, delay] : delays) {
            market_.set_behaviour(key, {.delay_ms = delay});
        }
        RecordingObserver observer;
        CollectionEngine engine(store(), hosts(), observer, parallel);
        const int task = engine.submit_keyword(keyword).task;
        engine.wait_all();
        expect_collected_by_the_rules(observer, task, keyword);
        market_.clear_behaviours();
    }
}

TEST_F(CollectionTest, Utf8PagesYieldTheSameRecords) {
    const std::string keyword = "手机";
    serve_rule_members(keyword);
    // The same documents sent as UTF-8, declared by header or by <meta>.
    const std::string page =
        file_contents(std::filesystem::path(QINGLAN_TEST_DATA) / "collect/search.html");
    market_.set_resource(search_key(keyword), "<meta charset=\"utf-8\">" + page, "text/html");
    market_.set_resource(
        "card/alpha",
        file_contents(std::filesystem::path(QINGLAN_TEST_DATA) / "collect/card/alpha.json"),
        "application/json;charset=UTF-8");
    CollectionEngine engine(store(), hosts(), observer_);
    engine.submit_keyword(keyword);
    engine.wait_all();
    const auto rows = stored_rows(keyword);
    ASSERT_EQ(rows.size(), 7U);
    EXPECT_EQ(rows[0], kAlpha);
    EXPECT_EQ(rows[1], kBeta);
}

TEST_F(CollectionTest, SearchPageWithoutAccountsSaysWhatItWas) {
    market_.set_resource(search_key("空"),
                         utf8_to_gbk("<html><head><title> 没有结果 </title></head>") +
                             std::string(18000, ' ') + "</html>");
    CollectionEngine engine(store(), hosts(), observer_);
    engine.submit_keyword("空");
    engine.submit_keyword("nothing-served");  // answered 404: an answer like any page
    // Without accounts and asking the client to log in: no answer at all.
    market_.set_resource(search_key("表"),
                         utf8_to_gbk("<html><head><title> 请登录 </title></head></html>"));
    engine.submit_keyword("表");
    engine.wait_all();
    EXPECT_FALSE(observer_.outcome(3).completed);
    EXPECT_EQ(observer_.outcome(3).failure, "search page: blocked by the site (\"请登录\")");
    for (int task : {1, 2}) {
        EXPECT_TRUE(observer_.outcome(task).succeeded());
        EXPECT_EQ(observer_.outcome(task).members, 0);
        EXPECT_TRUE(observer_.rows(task).empty());
    }
    EXPECT_EQ(observer_.outcome(1).empty_page, "title \"没有结果\", 18 KB");
    EXPECT_EQ(observer_.outcome(2).empty_page, "title \"\", 0 KB");
    EXPECT_EQ(observer_.task_rows()[0].total, 0);
    const auto statuses = observer_.statuses();
    EXPECT_NE(std::find(statuses.begin(), statuses.end(),
                        RecordingObserver::Status{
                            1, 0, "状态：搜索页中没有会员账号（标题“没有结果”，18 KB）"}),
              statuses.end());
    for (const RecordingObserver::Status& status :
         {RecordingObserver::Status{1, 1, "0位用户信息分析完成可以导出"},
          RecordingObserver::Status{3, 0, "失败：搜索页被拦截（请登录）"}}) {
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), status), statuses.end())
            << status.text;
    }
    EXPECT_EQ(targets_with("memberCardJson").size(), 0U);

    // Complete with no members: shown from the database from now on.
    EXPECT_EQ(engine.submit_keyword("空").kind, SubmitResult::kReopened);
}

TEST_F(CollectionTest, TwoKeywordsCollectAtOnceIntoTheirOwnTables) {
    std::string page_a = "<p>", page_b = "<p>";
    for (int i = 0; i < 4; ++i) {
        page_a += " companyId=\"a" + std::to_string(i) + "\"";
        page_b += " companyId=\"b" + std::to_string(i) + "\"";
    }
    market_.set_resource(search_key("甲"), page_a);
    market_.set_resource(search_key("乙"), page_b);
    Behaviour slow;
    slow.delay_ms = 150;
    for (int i = 0; i < 4; ++i) {
        for (const char* prefix : {"a", "b"}) {
            const std::string account = prefix + std::to_string(i);
            market_.set_resource(
                "card/" + account,
                R"({"name":"Co )" + account + R"(","memberId":")" + account + R"(","x":1})");
            market_.set_behaviour("card/" + account, slow);
        }
    }
    CollectionEngine engine(store(), hosts(), observer_);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(engine.submit_keyword("甲").task, 1);
    EXPECT_EQ(engine.submit_keyword("乙").task, 2);
    engine.wait_all();
    const auto elapsed = std::chrono::steady_clock::now() - start;

    for (const auto& [table, prefix] : {std::pair{"甲", "a"}, std::pair{"乙", "b"}}) {
        const auto rows = stored_rows(table);
        ASSERT_EQ(rows.size(), 4U) << table;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(rows[static_cast<std::size_t>(i)][kAccount], prefix + std::to_string(i));
        }
    }
    EXPECT_EQ(observer_.rows(1)[3][kAccount], "a3");
    EXPECT_EQ(observer_.rows(2)[3][kAccount], "b3");
    // Eight slow cards one after the other would take at least 1200 ms.
    EXPECT_LT(elapsed, 1100ms);
}

TEST_F(CollectionTest, StoredKeywordIsReopenedWithoutARequest) {
    ASSERT_TRUE(store().ensure_table("手机", nullptr));
    CollectionEngine engine(store(), hosts(), observer_);
    // A table whose member list was never read is collected, as one that
    // is not in the table list yet.
    const SubmitResult before = engine.submit_keyword("手机");
    EXPECT_EQ(before.kind, SubmitResult::kResumed);
    engine.wait_all();
    market_.clear_requests();

    ASSERT_TRUE(engine.read_table_names(nullptr));
    EXPECT_EQ(engine.table_names(), (std::vector<std::string>{"123", "手机"}));
    const SubmitResult again = engine.submit_keyword("手机");
    EXPECT_EQ(again.kind, SubmitResult::kReopened);
    // A different letter case is another keyword to the table list, but the
    // database would take it for the stored table: it gets no table, and its
    // rows reach neither.
    ASSERT_TRUE(store().ensure_table("Phone", nullptr));
    ASSERT_TRUE(store().insert_record("Phone", kAlpha, -1, nullptr));
    market_.set_resource(search_key("phone"), "<p> companyId=\"alpha\"");
    ASSERT_TRUE(engine.read_table_names(nullptr));
    const SubmitResult other_case = engine.submit_keyword("phone");
    EXPECT_EQ(other_case.kind, SubmitResult::kStarted);
    EXPECT_FALSE(other_case.table_ready);
    engine.wait_all();
    EXPECT_EQ(stored_rows("Phone"), std::vector<ContactRecord>{kAlpha});
    EXPECT_EQ(observer_.outcome(2).failed_inserts, 1);
    EXPECT_EQ(observer_.failures(2).size(), 1U);
    EXPECT_EQ(engine.task_count(), 2);
    EXPECT_EQ(targets_with("keywords=%CA%D6%BB%FA").size(), 0U);
}

TEST_F(CollectionTest, KeywordsAreOnlyNames) {
    const std::string hostile = "x\"; DROP TABLE \"123\"; --";
    const std::string quoted = "it's";
    for (const std::string& keyword : {hostile, quoted}) {
        market_.set_resource(search_key(keyword), "<p> companyId=\"alpha\"");
    }
    market_.set_resource("card/alpha", saved_page("card/alpha.json"));
    CollectionEngine engine(store(), hosts(), observer_);
    ASSERT_TRUE(engine.read_table_names(nullptr));
    EXPECT_TRUE(engine.submit_keyword(hostile).table_ready);
    EXPECT_TRUE(engine.submit_keyword(quoted).table_ready);
    engine.wait_all();
    EXPECT_EQ(stored_rows(hostile).size(), 1U);
    EXPECT_EQ(stored_rows(quoted).size(), 1U);
    std::vector<std::string> names;
    ASSERT_TRUE(store().read_table_names(&names, nullptr));
    EXPECT_EQ(names, (std::vector<std::string>{"123", hostile, quoted}));
}

TEST_F(CollectionTest, KeywordIsSearchedAsTypedOrRefused) {
    // 丂 exists only in GBK, not in GB2312; the emoji not even in GBK.
    market_.set_resource("search/%CA%D6%BB%FA%81%40", "<p> companyId=\"alpha\"");
    market_.set_resource("card/alpha", saved_page("card/alpha.json"));
    CollectionEngine engine(store(), hosts(), observer_);
    ASSERT_TRUE(engine.read_table_names(nullptr));
    EXPECT_EQ(engine.submit_keyword("手机丂").kind, SubmitResult::kStarted);
    engine.wait_all();
    EXPECT_EQ(targets_with("keywords=%CA%D6%BB%FA%81%40&n=y").size(), 1U);
    EXPECT_EQ(stored_rows("手机丂").size(), 1U);

    // Refused before anything is asked for or made, even when started over.
    market_.clear_requests();
    for (const bool again : {false, true}) {
        const SubmitResult refused = engine.submit_keyword("手机\xF0\x9F\x98\x80", again);
        EXPECT_EQ(refused.kind, SubmitResult::kRefused);
        EXPECT_EQ(refused.task, 0);
        EXPECT_EQ(refused.refusal,
                  "U+1F600 is not a GBK character: the keyword cannot be searched");
    }
    EXPECT_EQ(engine.task_count(), 1);
    EXPECT_TRUE(market_.requests().empty());
    std::vector<std::string> names;
    ASSERT_TRUE(store().read_table_names(&names, nullptr));
    EXPECT_EQ(names, (std::vector<std::string>{"123", "手机丂"}));
}

TEST_F(CollectionTest, SameKeywordTwiceIsCollectedOnce) {
    market_.set_resource(search_key("重复"), "<p> companyId=\"alpha\" companyId=\"beta\"");
    market_.set_resource("card/alpha", saved_page("card/alpha.json"));
    market_.set_behaviour("card/alpha", {.delay_ms = 200});
    CollectionEngine engine(store(), hosts(), observer_);
    ASSERT_TRUE(engine.read_table_names(nullptr));
    EXPECT_EQ(engine.submit_keyword("重复").task, 1);
    const SubmitResult second = engine.submit_keyword("重复");
    EXPECT_EQ(second.kind, SubmitResult::kRefused);
    EXPECT_NE(second.refusal.find("another task"), std::string::npos) << second.refusal;
    engine.wait_all();
    EXPECT_EQ(stored_rows("重复").size(), 2U);
    // Once complete, the table list need not be read again to know it.
    EXPECT_EQ(engine.submit_keyword("重复").kind, SubmitResult::kReopened);
    EXPECT_EQ(engine.task_count(), 1);
}

TEST_F(CollectionTest, RefusedRowsAreReported) {
    // The file would take "AB" for "ab": its table cannot be made.
    ASSERT_TRUE(store().ensure_table("ab", nullptr));
    market_.set_resource(search_key("AB"), "<p> companyId=\"alpha\"");
    CollectionEngine engine(store(), hosts(), observer_);
    const SubmitResult result = engine.submit_keyword("AB");
    EXPECT_FALSE(result.table_ready);
    EXPECT_FALSE(result.table_error.empty());
    engine.wait_all();
    EXPECT_EQ(observer_.rows(1).size(), 1U);
    EXPECT_EQ(observer_.failures(1).size(), 1U);
    const TaskOutcome outcome = observer_.outcome(1);
    EXPECT_EQ(outcome.failed_inserts, 1);
    EXPECT_EQ(outcome.stored, 0);
    EXPECT_FALSE(outcome.table_ready);

    // Asked to refuse such a keyword, the engine starts nothing, asks the
    // marketplace for nothing and lets the keyword go.
    market_.clear_requests();
    const SubmitResult refused = engine.submit_keyword("AB", false, MissingTable::kRefuse);
    EXPECT_EQ(refused.kind, SubmitResult::kRefused);
    EXPECT_FALSE(refused.table_ready);
    EXPECT_EQ(refused.refusal, refused.table_error);
    EXPECT_EQ(refused.task, 0);
    engine.wait_all();
    EXPECT_EQ(engine.task_count(), 1);
    EXPECT_TRUE(market_.requests().empty());
    EXPECT_TRUE(store().claim("AB", nullptr));
}

TEST_F(CollectionTest, StopEndsTransfersPromptlyAndKeepsStoredRows) {
    // One at a time, the members after the hanging one wait in the transfer
    // loop's queue for their turn; several at a time, beside it.
    for (int parallel : {1, 8}) {
        const std::string keyword = "停" + std::to_string(parallel);
        std::string page = "<p>";
        for (int i = 0; i < 6; ++i) {
            const std::string account = "p" + std::to_string(parallel) + "m" + std::to_string(i);
            page += " companyId=\"" + account + "\"";
            market_.set_resource("card/" + account, R"({"name":"Co","x":1})");
        }
        market_.set_resource(search_key(keyword), page);
        const std::string hanging = "p" + std::to_string(parallel) + "m2";
        Behaviour hang;
        hang.never_answer = true;
        market_.set_behaviour("card/" + hanging, hang);
        set_fetch_settings({.connect_seconds = 5, .stall_seconds = 60, .retry_base_ms = 10});

        RecordingObserver observer;
        CollectionEngine engine(store(), hosts(), observer, parallel);
        const int task = engine.submit_keyword(keyword).task;
        // Wait until the first two members are stored and the third one's
        // card is asked for, then stop.
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while ((targets_with("loginId=" + hanging).empty() || observer.done(task).size() < 2) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        const auto start = std::chrono::steady_clock::now();
        engine.stop();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << parallel;

        EXPECT_EQ(stored_rows(keyword).size(), 2U) << parallel;
        ASSERT_TRUE(observer.finished(task));
        EXPECT_FALSE(observer.outcome(task).completed);
        EXPECT_EQ(observer.outcome(task).stored, 2);
        EXPECT_EQ(engine.submit_keyword("later").kind, SubmitResult::kRefused);
        if (parallel == 1) {
            EXPECT_TRUE(targets_with("loginId=p1m3").empty());
        }
    }
}

TEST_F(CollectionTest, StoppingOneTaskLeavesTheOthersRunning) {
    // Three keywords whose cards answer slowly, so all three are in flight
    // when the second is stopped.
    for (const char* prefix : {"a", "b", "c"}) {
        std::string page = "<p>";
        Behaviour slow;
        slow.delay_ms = 150;
        for (int i = 0; i < 4; ++i) {
            const std::string account = prefix + std::to_string(i);
            page += " companyId=\"" + account + "\"";
            market_.set_resource("card/" + account, R"({"name":"Co","x":1})");
            market_.set_behaviour("card/" + account, slow);
        }
        market_.set_resource(search_key(std::string("任务") + prefix), page);
    }
    CollectionEngine engine(store(), hosts(), observer_, 1);
    for (const char* prefix : {"a", "b", "c"}) {
        EXPECT_EQ(engine.submit_keyword(std::string("任务") + prefix).kind, SubmitResult::kStarted);
    }
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (observer_.done(2).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(engine.stop_task(2));
    EXPECT_FALSE(engine.stop_task(4));
    engine.wait_all();

    const TaskOutcome stopped = observer_.outcome(2);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_FALSE(stopped.completed);
    EXPECT_LT(stopped.stored, 4);
    EXPECT_EQ(stored_rows("任务b").size(), static_cast<std::size_t>(stopped.stored));
    for (int task : {1, 3}) {
        EXPECT_TRUE(observer_.outcome(task).succeeded()) << task;
        EXPECT_FALSE(observer_.outcome(task).stopped) << task;
        EXPECT_EQ(observer_.outcome(task).stored, 4) << task;
    }
    // Stopping a task is not stopping the engine: a stopped keyword resumes.
    EXPECT_EQ(engine.submit_keyword("任务b").kind, SubmitResult::kResumed);
    engine.wait_all();
    EXPECT_EQ(stored_rows("任务b").size(), 4U);
    EXPECT_TRUE(engine.stop_task(1));  // an ended task stays as it ended
    EXPECT_TRUE(observer_.outcome(1).succeeded());
}

}  // namespace
}  // namespace qinglan
