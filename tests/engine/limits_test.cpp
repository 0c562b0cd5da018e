// What the marketplace sees of the limits: never more transfers at once than
// allowed in all and per host, and requests to one host spaced by the delay.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "engine/collection_engine.h"
#include "marketplace_fixture.h"
#include "recording_observer.h"
#include "tests/marketplace_pages.h"

namespace qinglan {
namespace {

using namespace std::chrono_literals;

class LimitsTest : public MarketplaceFixture {
protected:
    static constexpr int kLatencyMs = 40;

    void limit(int connections, int per_host, long delay_ms) {
        FetchSettings settings = fetch_settings();
        settings.connections = connections;
        settings.per_host = per_host;
        settings.delay_ms = delay_ms;
        set_fetch_settings(settings);
    }

    // Collects `keywords` keywords of `members` members each at once, and
    // checks every row arrived.
    void collect(int keywords, int members, int parallel) {
        RecordingObserver observer;
        CollectionEngine engine(store(), hosts(), observer, parallel);
        std::vector<std::string> submitted;
        for (int k = 0; k < keywords; ++k) {
            submitted.push_back("限" + std::to_string(next_keyword_++));
            serve_members(market_, submitted.back(), "k" + std::to_string(next_keyword_) + "m",
                          members, kLatencyMs);
            engine.submit_keyword(submitted.back());
        }
        engine.wait_all();
        for (const std::string& keyword : submitted) {
            EXPECT_EQ(static_cast<int>(stored_rows(keyword).size()), members) << keyword;
        }
    }

    int next_keyword_ = 0;

    int most_at_once_to_the_marketplace_host() const {
        const auto by_host = market_.most_at_once_by_host();
        const auto found = by_host.find(market_.search_host());
        return found == by_host.end() ? 0 : found->second;
    }
};

TEST_F(LimitsTest, TransfersAtOnceStayWithinTheLimits) {
    // Slow answers keep every allowed transfer busy.
    market_.set_default_behaviour({.delay_ms = kLatencyMs});
    limit(4, 2, 0);
    collect(2, 10, 8);
    EXPECT_LE(market_.most_at_once(), 4);
    EXPECT_GE(market_.most_at_once(), 3);
    EXPECT_EQ(most_at_once_to_the_marketplace_host(), 2);

    market_.clear_requests();
    limit(16, 8, 0);
    collect(3, 20, 8);
    EXPECT_LE(market_.most_at_once(), 16);
    EXPECT_GE(market_.most_at_once(), 12);
    EXPECT_LE(most_at_once_to_the_marketplace_host(), 8);
    // Contact pages have a host each, so they fill what the cards leave.
    EXPECT_EQ(most_at_once_to_the_marketplace_host(), 8);
}

TEST_F(LimitsTest, RequestsToOneHostKeepTheirDistance) {
    limit(16, 8, 100);
    collect(1, 6, 8);
    std::vector<std::chrono::steady_clock::time_point> to_marketplace;
    for (const auto& request : market_.requests()) {
        if (request.host == market_.search_host()) {
            to_marketplace.push_back(request.received_at);
        }
    }
    ASSERT_EQ(to_marketplace.size(), 7U);  // the search page and six cards
    std::sort(to_marketplace.begin(), to_marketplace.end());
    // Requests start at least 50 ms apart (100 ms less half of it for the
    // jitter), but they are timed where they arrive: on a busy machine one
    // may arrive late and the next on time. Unspaced, the cards would all
    // arrive within a few milliseconds of each other.
    for (std::size_t i = 1; i < to_marketplace.size(); ++i) {
        EXPECT_GE(to_marketplace[i] - to_marketplace[i - 1], 10ms) << i;
    }
    EXPECT_GE(to_marketplace.back() - to_marketplace.front(), 6 * 50ms - 50ms);
}

}  // namespace
}  // namespace qinglan
