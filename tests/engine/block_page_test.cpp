// Search pages the site sends in place of results, asking the client to
// prove it is a person or to log in: tried again like an overloaded server,
// never stored, and never taken for a keyword without members.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/collection_engine.h"
#include "marketplace_fixture.h"
#include "recording_observer.h"
#include "tests/marketplace_pages.h"

namespace qinglan {
namespace {

class BlockPageTest : public MarketplaceFixture {
protected:
    int search_requests() const {
        int count = 0;
        for (const auto& request : market_.requests()) {
            count += request.target.find("company_search") != std::string::npos ? 1 : 0;
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

    // One run of the program on `keyword`, to its end.
    SubmitResult collect(const std::string& keyword, bool again = false) {
        observer_ = std::make_unique<RecordingObserver>();
        CollectionEngine engine(store(), hosts(), *observer_);
        EXPECT_TRUE(engine.read_table_names(nullptr));
        const SubmitResult result = engine.submit_keyword(keyword, again);
        engine.wait_all();
        return result;
    }

    // The search page's block page carries a title of the site's own.
    void block_search(const std::string& keyword, int times) {
        market_.set_resource("blocked/search.html",
                             gbk("<html><head><title>安全验证 - 示例市场</title></head>"
                                 "<body>请拖动滑块完成验证</body></html>"));
        market_.set_behaviour(search_key(keyword), {.block_times = times});
    }

    const std::vector<std::string> kAccounts{"m0", "m1", "m2"};
    std::unique_ptr<RecordingObserver> observer_ = std::make_unique<RecordingObserver>();
};

TEST_F(BlockPageTest, ABlockThatLiftsWithinTheRetriesIsCollectedAsUsual) {
    serve_members(market_, "手机", "m", 3);
    // The marketplace's stand-in page ("Verify you are human"), twice.
    market_.set_behaviour(search_key("手机"), {.block_times = 2});
    EXPECT_EQ(collect("手机").kind, SubmitResult::kStarted);
    EXPECT_TRUE(observer_->outcome(1).succeeded()) << observer_->outcome(1).failure;
    EXPECT_EQ(search_requests(), 3);
    EXPECT_EQ(stored_accounts("手机"), kAccounts);
}

TEST_F(BlockPageTest, APersistingBlockFailsWithItsTitleAndTheNextRunCollects) {
    serve_members(market_, "手机", "m", 3);
    block_search("手机", 4);
    EXPECT_EQ(collect("手机").kind, SubmitResult::kStarted);
    const TaskOutcome failed = observer_->outcome(1);
    EXPECT_FALSE(failed.succeeded());
    EXPECT_FALSE(failed.completed);
    EXPECT_EQ(failed.failure, "search page: blocked by the site (\"安全验证 - 示例市场\")");
    EXPECT_EQ(failed.failure_chinese, "搜索页被拦截（安全验证 - 示例市场）");
    EXPECT_EQ(observer_->statuses().back().text, "失败：搜索页被拦截（安全验证 - 示例市场）");
    EXPECT_EQ(search_requests(), 4);  // the first try and three more
    EXPECT_TRUE(observer_->task_rows().empty());
    EXPECT_TRUE(stored_rows("手机").empty());

    // The block has lifted: the keyword was never complete.
    EXPECT_EQ(collect("手机").kind, SubmitResult::kResumed);
    EXPECT_TRUE(observer_->outcome(1).succeeded());
    EXPECT_EQ(stored_accounts("手机"), kAccounts);
}

TEST_F(BlockPageTest, StartingOverUnderAPersistingBlockKeepsTheStoredRows) {
    serve_members(market_, "手机", "m", 3);
    EXPECT_EQ(collect("手机").kind, SubmitResult::kStarted);
    ASSERT_EQ(stored_accounts("手机"), kAccounts);

    block_search("手机", 4);
    collect("手机", true);
    EXPECT_FALSE(observer_->outcome(1).succeeded());
    EXPECT_EQ(observer_->outcome(1).failure_chinese, "搜索页被拦截（安全验证 - 示例市场）");
    EXPECT_EQ(stored_accounts("手机"), kAccounts);
    // Still complete as it was: shown, not collected again.
    EXPECT_EQ(collect("手机").kind, SubmitResult::kReopened);
}

}  // namespace
}  // namespace qinglan
