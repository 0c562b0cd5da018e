// Trying a fetch again: which failures another try can mend, and how long
// to wait before it.

#include <chrono>
#include <random>
#include <thread>

#include "services/fetch.h"

namespace qinglan {
namespace {

using Clock = std::chrono::steady_clock;

bool worth_another_try(const FetchInfo& info) {
    switch (info.error) {
        case FetchError::kNone:
            return fetch_failed(info);  // 429 or 5xx
        case FetchError::kBadAddress:
        case FetchError::kCertificate:
        case FetchError::kRedirects:
        case FetchError::kTooLarge:
        case FetchError::kStopped:
            // The same request would meet the same answer.
            return false;
        default:
            return true;
    }
}

// The wait before try `retry` (1 for the first retry): the server's
// Retry-After when it gave one, else the back-off doubled per try, each
// spread by ±25% so that many tasks turned away at once do not come back
// all at the same instant.
Clock::duration wait_before(int retry, const FetchInfo& last, const FetchSettings& settings) {
    if (last.retry_after_seconds >= 0) {
        return std::chrono::seconds(
            std::min(last.retry_after_seconds, settings.max_retry_after_seconds));
    }
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_real_distribution<double> spread(0.75, 1.25);
    const double ms = static_cast<double>(settings.retry_base_ms) *
                      static_cast<double>(1L << std::min(retry - 1, 20)) * spread(random);
    return std::chrono::milliseconds(static_cast<long long>(ms));
}

// False when `cancel` became true first.
bool wait_unless_stopped(Clock::duration wait, const std::atomic<bool>* cancel) {
    const auto until = Clock::now() + wait;
    while (Clock::now() < until) {
        if (cancel != nullptr && cancel->load()) {
            return false;
        }
        std::this_thread::sleep_for(
            std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(20)));
    }
    return cancel == nullptr || !cancel->load();
}

}  // namespace

bool fetch_failed(const FetchInfo& info) {
    return info.error != FetchError::kNone || info.status == 429 || info.status >= 500;
}

std::string fetch_failure_text(const FetchInfo& info) {
    if (info.error == FetchError::kNone) {
        return "server answered " + std::to_string(info.status);
    }
    std::string text = fetch_error_text(info.error);
    if (!info.detail.empty()) {
        text += " (" + info.detail + ")";
    }
    return text;
}

Bytes fetch_with_retries(std::string_view url, const std::atomic<bool>* cancel, FetchInfo* info) {
    FetchInfo ignored;
    FetchInfo& last = info != nullptr ? *info : ignored;
    const FetchSettings settings = fetch_settings();
    for (int attempt = 1;; ++attempt) {
        Bytes body = fetch_page(url, cancel, &last);
        last.attempts = attempt;
        if (attempt > settings.retries || !worth_another_try(last)) {
            return body;
        }
        if (!wait_unless_stopped(wait_before(attempt, last, settings), cancel)) {
            last.error = FetchError::kStopped;
            last.detail.clear();
            return body;
        }
    }
}

}  // namespace qinglan
