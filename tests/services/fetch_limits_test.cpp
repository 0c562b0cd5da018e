// What a fetch says when it does not complete, the limits that end it, and
// the retries of fetch_with_retries.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "services/transfer_loop.h"
#include "tests/services/fetch_fixture.h"

namespace qinglan {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class FetchLimitsTest : public FetchFixture {
protected:
    // fetch_page's verdict on `path`, with the body's size in `size`.
    FetchInfo fetch(std::string_view path, std::size_t* size = nullptr) {
        FetchInfo info;
        const Bytes body = fetch_page(url(path), nullptr, &info);
        if (size != nullptr) {
            *size = body.size();
        }
        return info;
    }
};

TEST_F(FetchLimitsTest, SaysWhyATransferDidNotComplete) {
    market_.set_resource("page.txt", "text");
    market_.set_resource("cut.txt", std::string(10000, 'c'));
    market_.set_behaviour("cut.txt", {.drop_after = 3000});
    market_.set_behaviour("ping", {.location = "/ping"});
    market_.set_resource("busy", "busy");
    market_.set_behaviour("busy", {.status = 503});
    market_.set_resource("gone", "gone");
    market_.set_behaviour("gone", {.status = 404});

    FetchInfo info = fetch("/page.txt");
    EXPECT_EQ(info.error, FetchError::kNone);
    EXPECT_FALSE(fetch_failed(info));

    std::size_t size = 0;
    info = fetch("/cut.txt", &size);
    EXPECT_EQ(info.error, FetchError::kCutOff);
    EXPECT_EQ(size, 3000U);  // the part that came is still the body
    EXPECT_EQ(fetch("/ping").error, FetchError::kRedirects);

    // Answers are pages whatever their status; only overload and the
    // server's own failures are not.
    info = fetch("/busy");
    EXPECT_EQ(info.error, FetchError::kNone);
    EXPECT_TRUE(fetch_failed(info));
    EXPECT_EQ(fetch_failure_text(info), "server answered 503");
    EXPECT_FALSE(fetch_failed(fetch("/gone")));

    FetchInfo bad;
    fetch_page("ftp://" + market_.search_host() + "/page.txt", nullptr, &bad);
    EXPECT_EQ(bad.error, FetchError::kBadAddress);
    fetch_page("", nullptr, &bad);
    EXPECT_EQ(bad.error, FetchError::kBadAddress);

    SampleMarketplace closed;
    ASSERT_TRUE(closed.start());
    const std::string address = "http://" + closed.search_host() + "/page.txt";
    closed.stop();
    fetch_page(address, nullptr, &info);
    EXPECT_EQ(info.error, FetchError::kConnect);
    EXPECT_EQ(fetch_failure_text(info).rfind("cannot connect (", 0), 0U)
        << fetch_failure_text(info);

    std::atomic<bool> stop{true};
    fetch_page(url("/page.txt"), &stop, &info);
    EXPECT_EQ(info.error, FetchError::kStopped);
}

TEST_F(FetchLimitsTest, AnEndlessBodyEndsAtTheCapWithoutBeingHeld) {
    settings_.max_page_bytes = 1 << 20;
    set_fetch_settings(settings_);
    market_.set_resource("endless", std::string(4096, 'e'));
    market_.set_behaviour("endless", {.endless = true});

    std::size_t size = 0;
    const auto start = Clock::now();
    EXPECT_EQ(fetch("/endless", &size).error, FetchError::kTooLarge);
    EXPECT_LE(size, std::size_t{1} << 20);
    EXPECT_LT(Clock::now() - start, 5s);

    // A page just at the cap is whole.
    market_.set_resource("full", std::string(1 << 20, 'f'));
    EXPECT_EQ(fetch("/full", &size).error, FetchError::kNone);
    EXPECT_EQ(size, std::size_t{1} << 20);
}

// Requests handed to the transfer loop at once: how many of their
// transfers ran at the same time at most, and how each ended.
class Burst {
public:
    void submit(const std::string& url) {
        TransferLoop::Request request;
        request.url = url;
        request.retry = false;
        // Called as the transfer starts, before it counts as running.
        request.started = [this] {
            std::lock_guard lock(mutex_);
            most_ = std::max(most_, TransferLoop::shared().running() + 1);
        };
        request.done = [this](Bytes, FetchInfo info) {
            std::lock_guard lock(mutex_);
            errors_.push_back(info.error);
            ended_.notify_all();
        };
        std::lock_guard lock(mutex_);
        ++submitted_;
        TransferLoop::shared().submit(std::move(request));
    }

    // Waits for every request's end.
    std::vector<FetchError> errors() {
        std::unique_lock lock(mutex_);
        ended_.wait(lock, [this] { return errors_.size() == submitted_; });
        return errors_;
    }

    int most_at_once() {
        std::lock_guard lock(mutex_);
        return most_;
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    std::size_t submitted_ = 0;
    int most_ = 0;
    std::vector<FetchError> errors_;
};

// Every running transfer holds a page at the cap of the page budget: with
// room for two pages, endless bodies go two at a time however many
// connections are allowed, and a request that waited for room still has
// its whole deadline once it starts.
TEST_F(FetchLimitsTest, TransfersStartOnlyWithRoomInThePageBudget) {
    settings_.max_page_bytes = 1 << 20;
    settings_.page_budget_bytes = 2 << 20;
    settings_.connections = 16;
    settings_.per_host = 16;
    settings_.page_seconds = 2;
    set_fetch_settings(settings_);
    market_.set_resource("endless", std::string(4096, 'e'));
    market_.set_behaviour("endless", {.endless = true});
    market_.set_resource("slow", "slow");
    market_.set_behaviour("slow", {.delay_ms = 900});

    Burst endless;
    for (int i = 0; i < 8; ++i) {
        endless.submit(url("/endless"));
    }
    EXPECT_EQ(endless.errors(), std::vector<FetchError>(8, FetchError::kTooLarge));
    EXPECT_EQ(endless.most_at_once(), 2);

    // Three rounds of two: the last waits 1.8 s, more than a page may take.
    Burst slow;
    const auto start = Clock::now();
    for (int i = 0; i < 6; ++i) {
        slow.submit(url("/slow"));
    }
    EXPECT_EQ(slow.errors(), std::vector<FetchError>(6, FetchError::kNone));
    EXPECT_EQ(slow.most_at_once(), 2);
    EXPECT_GE(Clock::now() - start, 2600ms);
}

TEST_F(FetchLimitsTest, ATricklingServerIsGivenUpOnAsTooSlow) {
    settings_.slow_seconds = 1;
    set_fetch_settings(settings_);
    market_.set_resource("trickle", std::string(1000, 't'));
    market_.set_behaviour("trickle", {.chunk_delay_ms = 300, .chunk_bytes = 1});
    // Every byte comes well within the stall time: only the speed tells.
    market_.set_behaviour("silent", {.never_answer = true});

    auto start = Clock::now();
    std::size_t size = 0;
    EXPECT_EQ(fetch("/trickle", &size).error, FetchError::kTooSlow);
    EXPECT_LT(Clock::now() - start, 3500ms);
    EXPECT_GT(size, 0U);

    start = Clock::now();
    EXPECT_EQ(fetch("/silent").error, FetchError::kStalled);
    EXPECT_LT(Clock::now() - start, 3500ms);
}

TEST_F(FetchLimitsTest, NoPageTakesLongerThanItsDeadline) {
    settings_.slow_seconds = 0;
    settings_.page_seconds = 1;
    set_fetch_settings(settings_);
    // 5 KB/s, fast enough for the speed limit, never done within a second.
    market_.set_resource("long", std::string(20000, 'l'));
    market_.set_behaviour("long", {.chunk_delay_ms = 100, .chunk_bytes = 512});

    const auto start = Clock::now();
    EXPECT_EQ(fetch("/long").error, FetchError::kTooSlow);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 3s);
}

TEST_F(FetchLimitsTest, RetriesWhatAnotherTryCanMend) {
    market_.set_resource("flaky", "good");
    market_.set_behaviour("flaky", {.fail_times = 2});
    market_.set_resource("gone", "gone");
    market_.set_behaviour("gone", {.status = 404});
    market_.set_resource("huge", std::string(2 << 20, 'h'));
    settings_.max_page_bytes = 1 << 20;
    set_fetch_settings(settings_);

    FetchInfo info;
    EXPECT_EQ(fetch_with_retries(url("/flaky"), nullptr, &info), "good");
    EXPECT_EQ(info.attempts, 3);
    EXPECT_FALSE(fetch_failed(info));

    fetch_with_retries(url("/gone"), nullptr, &info);
    EXPECT_EQ(info.attempts, 1);
    fetch_with_retries(url("/huge"), nullptr, &info);
    EXPECT_EQ(info.error, FetchError::kTooLarge);
    EXPECT_EQ(info.attempts, 1);

    market_.clear_requests();
    market_.set_behaviour("flaky", {.fail_times = 100});
    fetch_with_retries(url("/flaky"), nullptr, &info);
    EXPECT_EQ(info.attempts, 4);
    EXPECT_TRUE(fetch_failed(info));
    EXPECT_EQ(market_.requests().size(), 4U);
}

TEST_F(FetchLimitsTest, WaitsLongerAfterEachTryAndAsLongAsTheServerAsks) {
    settings_.retry_base_ms = 100;
    settings_.max_retry_after_seconds = 1;
    set_fetch_settings(settings_);
    market_.set_resource("flaky", "good");
    market_.set_behaviour("flaky", {.fail_times = 3});
    market_.set_resource("later", "good");
    market_.set_behaviour(
        "later", {.extra_headers = {"Retry-After: 30"}, .fail_times = 1, .fail_status = 429});

    // About 100 + 200 + 400 ms, each within a quarter either way.
    auto start = Clock::now();
    EXPECT_EQ(fetch_with_retries(url("/flaky")), "good");
    auto took = Clock::now() - start;
    EXPECT_GE(took, 520ms);
    EXPECT_LT(took, 3s);

    // The server's Retry-After, cut to the longest wait allowed.
    start = Clock::now();
    EXPECT_EQ(fetch_with_retries(url("/later")), "good");
    took = Clock::now() - start;
    EXPECT_GE(took, 950ms);
    EXPECT_LT(took, 3s);
}

}  // namespace
}  // namespace qinglan
