// The transfer loop's decisions without a transfer: turns within a sequence,
// the limits on connections and per host, the delay between starts to one
// host and its spread, retries' back-off, the hold of a host that sends
// block pages, the page budget and cancelling.
// The time is given, never waited for.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "services/transfer_schedule.h"

namespace qinglan {
namespace {

using namespace std::chrono_literals;
using Clock = TransferSchedule::Clock;
using Id = TransferSchedule::Id;
using Ids = std::vector<Id>;
using Unsent = TransferSchedule::Unsent;

constexpr std::size_t kMiB = std::size_t{1} << 20;
const Clock::time_point t0 = Clock::time_point{} + 1000s;

TransferSchedule::Limits limits(int connections, int per_host, long delay_ms = 0) {
    TransferSchedule::Limits result;
    result.connections = connections;
    result.per_host = per_host;
    result.delay_ms = delay_ms;
    return result;
}

TransferSchedule::Entry to(const std::string& host, const void* sequence = nullptr,
                           bool needs_previous = false, const std::atomic<bool>* cancel = nullptr) {
    TransferSchedule::Entry entry;
    entry.host = host;
    entry.sequence = sequence;
    entry.needs_previous = needs_previous;
    entry.cancel = {cancel, nullptr};
    return entry;
}

// The ids and reasons of the requests that ended unsent, in order.
std::vector<std::pair<Id, Unsent>> dropped(TransferSchedule& schedule) {
    std::vector<std::pair<Id, Unsent>> result;
    for (const auto& one : schedule.take_dropped()) {
        result.emplace_back(one.id, one.why);
    }
    return result;
}

// A transfer is over, with a page or without.
void finish(TransferSchedule& schedule, Id id, bool page, Clock::time_point now) {
    schedule.release(id, now);
    schedule.end(id, page, now);
}

TEST(TransferScheduleTurnsTest, ASequenceRunsOneAtATimeInOrderOthersAtOnce) {
    TransferSchedule schedule;
    schedule.set_limits(limits(16, 8));
    const int task = 0;
    schedule.add(1, to("a:80", &task), t0);
    schedule.add(2, to("a:80", &task, true), t0);
    schedule.add(3, to("b:80", &task), t0);
    schedule.add(4, to("a:80"), t0);
    EXPECT_EQ(schedule.start(t0), (Ids{1, 4}));
    EXPECT_EQ(schedule.start(t0), Ids{});

    // The follower waits for its request, then goes; the next after it.
    finish(schedule, 1, true, t0);
    EXPECT_EQ(schedule.start(t0), Ids{2});
    finish(schedule, 4, true, t0);
    EXPECT_EQ(schedule.start(t0), Ids{});
    finish(schedule, 2, true, t0);
    EXPECT_EQ(schedule.start(t0), Ids{3});
    finish(schedule, 3, true, t0);
    EXPECT_TRUE(schedule.idle());
    EXPECT_TRUE(dropped(schedule).empty());
}

TEST(TransferScheduleTurnsTest, AFollowerIsSkippedWhenTheRequestBeforeItFails) {
    TransferSchedule schedule;
    schedule.set_limits(limits(16, 8));
    const int task = 0;
    for (Id id = 1; id <= 6; id += 2) {
        schedule.add(id, to("a:80", &task), t0);
        schedule.add(id + 1, to("a:80", &task, true), t0);
    }
    EXPECT_EQ(schedule.start(t0), Ids{1});
    finish(schedule, 1, false, t0);
    EXPECT_EQ(dropped(schedule),
              (std::vector<std::pair<Id, Unsent>>{{2, Unsent::kPreviousFailed}}));
    // The next pair is not held back by the failure before it.
    EXPECT_EQ(schedule.start(t0), Ids{3});
    finish(schedule, 3, true, t0);
    EXPECT_EQ(schedule.start(t0), Ids{4});
    finish(schedule, 4, false, t0);
    EXPECT_EQ(schedule.start(t0), Ids{5});
    EXPECT_TRUE(dropped(schedule).empty());

    // A request that cannot be sent at all ends at once, and so does the
    // one that needs it, before the sequence's turn comes to them.
    schedule.add(7, to("", &task), t0);
    schedule.add(8, to("a:80", &task, true), t0);
    EXPECT_EQ(dropped(schedule), (std::vector<std::pair<Id, Unsent>>{
                                     {7, Unsent::kNoAddress}, {8, Unsent::kPreviousFailed}}));
    schedule.add(9, to("a:80", &task), t0);
    finish(schedule, 5, true, t0);
    EXPECT_EQ(schedule.start(t0), Ids{6});
    finish(schedule, 6, true, t0);
    EXPECT_EQ(schedule.start(t0), Ids{9});
}

TEST(TransferScheduleTurnsTest, ARetryKeepsItsTurn) {
    TransferSchedule schedule;
    schedule.set_limits(limits(16, 8));
    const int task = 0;
    schedule.add(1, to("a:80", &task), t0);
    schedule.add(2, to("a:80", &task, true), t0);
    EXPECT_EQ(schedule.start(t0), Ids{1});
    schedule.retry_at(1, t0 + 2s, t0);
    EXPECT_EQ(schedule.start(t0 + 1s), Ids{});
    EXPECT_EQ(schedule.start(t0 + 2s), Ids{1});
    finish(schedule, 1, true, t0 + 2s);
    EXPECT_EQ(schedule.start(t0 + 2s), Ids{2});
}

TEST(TransferScheduleLimitsTest, NoMoreThanTheConnectionsRunInAll) {
    TransferSchedule schedule;
    schedule.set_limits(limits(2, 8));
    schedule.add(1, to("a:80"), t0);
    schedule.add(2, to("a:80"), t0);
    schedule.add(3, to("b:80"), t0);
    schedule.add(4, to("a:80"), t0);
    EXPECT_EQ(schedule.start(t0), (Ids{1, 2}));
    EXPECT_EQ(schedule.running(), 2);
    EXPECT_EQ(schedule.start(t0), Ids{});
    // Room goes to the request that came first, whatever its host.
    finish(schedule, 2, true, t0);
    EXPECT_EQ(schedule.start(t0), Ids{3});
    finish(schedule, 1, true, t0);
    EXPECT_EQ(schedule.start(t0), Ids{4});
}

TEST(TransferScheduleLimitsTest, AHostAtItsLimitNeverHoldsUpAnother) {
    TransferSchedule schedule;
    schedule.set_limits(limits(4, 1));
    schedule.add(1, to("a:80"), t0);
    schedule.add(2, to("a:80"), t0);
    schedule.add(3, to("a:80"), t0);
    schedule.add(4, to("b:80"), t0);
    schedule.add(5, to("a:8080"), t0);
    EXPECT_EQ(schedule.start(t0), (Ids{1, 4, 5}));
    finish(schedule, 4, true, t0);
    EXPECT_EQ(schedule.start(t0), Ids{});
    finish(schedule, 1, false, t0);
    EXPECT_EQ(schedule.start(t0), Ids{2});
}

TEST(TransferScheduleDelayTest, StartsToOneHostAreSpreadWithinHalfToOneAndAHalfDelays) {
    // The first start to host a, the one to host b, the second to a.
    std::vector<double> factors{0.5, 1.0, 1.5};
    std::size_t drawn = 0;
    TransferSchedule schedule([&] { return factors[drawn++ % factors.size()]; });
    schedule.set_limits(limits(16, 8, 1000));
    for (Id id = 1; id <= 3; ++id) {
        schedule.add(id, to("a:80"), t0);
    }
    EXPECT_EQ(schedule.start(t0), Ids{1});
    EXPECT_EQ(schedule.next_due(), t0 + 500ms);
    EXPECT_EQ(schedule.start(t0 + 499ms), Ids{});
    // Another host does not wait for this one's delay.
    schedule.add(4, to("b:80"), t0 + 499ms);
    EXPECT_EQ(schedule.start(t0 + 499ms), Ids{4});
    EXPECT_EQ(schedule.start(t0 + 500ms), Ids{2});
    EXPECT_EQ(schedule.next_due(), t0 + 2000ms);
    EXPECT_EQ(schedule.start(t0 + 1999ms), Ids{});
    EXPECT_EQ(schedule.start(t0 + 2000ms), Ids{3});
}

TEST(TransferScheduleDelayTest, TheRandomSpreadStaysWithinItsBounds) {
    TransferSchedule schedule;
    schedule.set_limits(limits(1000, 1000, 100));
    constexpr Id kCount = 200;
    for (Id id = 1; id <= kCount; ++id) {
        schedule.add(id, to("a:80"), t0);
    }
    Clock::time_point now = t0;
    ASSERT_EQ(schedule.start(now), Ids{1});
    std::set<Clock::duration::rep> gaps;
    for (Id id = 2; id <= kCount; ++id) {
        const auto due = schedule.next_due();
        ASSERT_TRUE(due.has_value());
        const Clock::duration gap = *due - now;
        EXPECT_GE(gap, 50ms);
        EXPECT_LE(gap, 150ms);
        gaps.insert(gap.count());
        now = *due;
        ASSERT_EQ(schedule.start(now), Ids{id});
    }
    EXPECT_GT(gaps.size(), kCount / 2);  // spread, not one fixed pause
}

TEST(TransferScheduleRetryTest, ARetryWaitsForItsBackOffWithoutHoldingAConnection) {
    TransferSchedule schedule;
    schedule.set_limits(limits(1, 1));
    schedule.add(1, to("a:80"), t0);
    schedule.add(2, to("a:80"), t0);
    EXPECT_EQ(schedule.start(t0), Ids{1});
    schedule.retry_at(1, t0 + 3s, t0);
    EXPECT_EQ(schedule.next_due(), t0 + 3s);
    EXPECT_EQ(schedule.start(t0), Ids{2});
    finish(schedule, 2, true, t0 + 1s);
    EXPECT_EQ(schedule.start(t0 + 1s), Ids{});
    EXPECT_EQ(schedule.start(t0 + 3s - 1ms), Ids{});
    EXPECT_EQ(schedule.start(t0 + 3s), Ids{1});
    EXPECT_FALSE(schedule.next_due().has_value());
}

// A block page is answered like a 429: `answered`, then its retry.
void block(TransferSchedule& schedule, Id id, Clock::time_point retry, Clock::time_point now) {
    schedule.answered(id, true, retry, now);
    schedule.retry_at(id, retry, now);
}

TEST(TransferScheduleBlockTest, ThreeBlockPagesInARowHoldTheirHostUntilTheLastOnesRetry) {
    TransferSchedule schedule;
    schedule.set_limits(limits(16, 8));
    for (Id id = 1; id <= 4; ++id) {
        schedule.add(id, to("a:80"), t0);
    }
    EXPECT_EQ(schedule.start(t0), (Ids{1, 2, 3, 4}));
    block(schedule, 1, t0 + 2s, t0);
    block(schedule, 2, t0 + 2s, t0);
    schedule.answered(3, false, t0, t0);  // a page between them ends the run
    finish(schedule, 3, true, t0);
    block(schedule, 4, t0 + 4s, t0);
    schedule.add(5, to("a:80"), t0);
    EXPECT_EQ(schedule.start(t0), Ids{5});
    block(schedule, 5, t0 + 4s, t0);

    EXPECT_EQ(schedule.start(t0 + 2s), (Ids{1, 2}));
    block(schedule, 1, t0 + 7s, t0 + 2s);  // the third in a row
    schedule.add(6, to("a:80"), t0 + 2s);
    schedule.add(7, to("b:80"), t0 + 2s);
    EXPECT_EQ(schedule.start(t0 + 2s), Ids{7});  // another host is not held
    EXPECT_EQ(schedule.start(t0 + 4s), Ids{});   // nor are retries let through
    EXPECT_EQ(schedule.next_due(), t0 + 7s);
    EXPECT_EQ(schedule.start(t0 + 7s - 1ms), Ids{});
    // The hold ends with the retry's own wait, not after it.
    EXPECT_EQ(schedule.start(t0 + 7s), (Ids{6, 4, 5, 1}));

    schedule.answered(6, false, t0 + 7s, t0 + 7s);
    block(schedule, 4, t0 + 9s, t0 + 7s);
    schedule.add(8, to("a:80"), t0 + 7s);
    EXPECT_EQ(schedule.start(t0 + 7s), Ids{8});
}

TEST(TransferSchedulePageBudgetTest, NoStartWithoutRoomForOneMorePageAtTheCap) {
    TransferSchedule schedule;
    TransferSchedule::Limits budget = limits(16, 8);
    budget.max_page_bytes = 16 * kMiB;
    budget.page_budget_bytes = 40 * kMiB;
    schedule.set_limits(budget);
    for (Id id = 1; id <= 4; ++id) {
        schedule.add(id, to(id % 2 == 0 ? "a:80" : "b:80"), t0);
    }
    EXPECT_EQ(schedule.start(t0), (Ids{1, 2}));
    EXPECT_EQ(schedule.start(t0), Ids{});
    // A body handed over gives its page back, even before the request ends.
    schedule.release(1, t0);
    EXPECT_EQ(schedule.start(t0), Ids{3});
    // So does a transfer that failed and waits to try again.
    schedule.retry_at(2, t0 + 1s, t0);
    EXPECT_EQ(schedule.start(t0), Ids{4});

    // A budget below one page still lets one transfer run.
    TransferSchedule small;
    budget.page_budget_bytes = 8 * kMiB;
    small.set_limits(budget);
    small.add(1, to("a:80"), t0);
    small.add(2, to("b:80"), t0);
    EXPECT_EQ(small.start(t0), Ids{1});
    finish(small, 1, true, t0);
    EXPECT_EQ(small.start(t0), Ids{2});
}

TEST(TransferScheduleCancelTest, ACancelledWaitingRequestEndsAtOnceUnstarted) {
    TransferSchedule schedule;
    schedule.set_limits(limits(1, 1));
    std::atomic<bool> stop{false};
    schedule.add(1, to("a:80"), t0);
    schedule.add(2, to("a:80", nullptr, false, &stop), t0);
    schedule.add(3, to("a:80"), t0);
    EXPECT_EQ(schedule.start(t0), Ids{1});
    stop = true;
    schedule.drop_cancelled(t0);
    EXPECT_EQ(dropped(schedule), (std::vector<std::pair<Id, Unsent>>{{2, Unsent::kCancelled}}));
    finish(schedule, 1, true, t0);
    EXPECT_EQ(schedule.start(t0), Ids{3});

    // Cancelled before it came: it never waits.
    schedule.add(4, to("b:80", nullptr, false, &stop), t0);
    EXPECT_EQ(dropped(schedule), (std::vector<std::pair<Id, Unsent>>{{4, Unsent::kCancelled}}));
    finish(schedule, 3, true, t0);
    EXPECT_TRUE(schedule.idle());
}

TEST(TransferScheduleCancelTest, CancelledRetriesAndTurnWaitersEndAndPassTheTurn) {
    TransferSchedule schedule;
    schedule.set_limits(limits(16, 8));
    std::atomic<bool> stop{false};
    const int task = 0;
    schedule.add(1, to("a:80", &task, false, &stop), t0);
    schedule.add(2, to("a:80", &task, true, &stop), t0);
    schedule.add(3, to("a:80", &task), t0);
    EXPECT_EQ(schedule.start(t0), Ids{1});
    schedule.retry_at(1, t0 + 10s, t0);
    stop = true;
    schedule.drop_cancelled(t0);
    EXPECT_EQ(dropped(schedule), (std::vector<std::pair<Id, Unsent>>{{1, Unsent::kCancelled},
                                                                     {2, Unsent::kCancelled}}));
    EXPECT_EQ(schedule.start(t0), Ids{3});
    EXPECT_FALSE(schedule.next_due().has_value());
}

}  // namespace
}  // namespace qinglan
