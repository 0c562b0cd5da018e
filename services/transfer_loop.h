#pragma once

// Every transfer of the process, run by one event thread over libcurl's
// multi interface: no thread per transfer and none per waiting caller.
//
// Requests wait in one queue in the order they came, and start while fewer
// than FetchSettings::connections transfers run in all and fewer than
// per_host run to their host (name and port); with delay_ms, two starts to
// one host are at least that far apart (±50%). A host at its limit never
// holds up requests to other hosts. Each running transfer also holds a page
// at the cap (max_page_bytes) of the process's page budget
// (page_budget_bytes) until its body is handed over: a request starts only
// when the budget has room for one more, and its time limits count from its
// start, not from its wait. A failed transfer, an answer of 429 or 5xx,
// or a page its request calls a block page, is queued again after its
// back-off (see fetch_with_retries), with no thread waiting meanwhile; a
// cancel flag that turns true ends a request wherever it is within about
// 100 ms.
//
// Redirects are followed by libcurl, or, once a cookies file's cookies are
// loaded, by the loop itself, so that each address gets its own (see
// curl::redirect_target); either way a redirect is part of its try.
//
// Requests of one sequence (Request::sequence) take turns: the next starts
// only when the one before it has ended. The decisions above are
// TransferSchedule's; this loop moves the bytes.
//
// Callers hear back on the loop's thread: their callbacks must be short and
// must never wait for another transfer. Created on first use and kept to
// the end of the process; every member is safe to call from any thread.

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "services/fetch.h"

namespace qinglan {

class TransferLoop {
public:
    struct Request {
        std::string url;
        bool retry = true;  // tried again as FetchSettings says while it fails
        std::array<const std::atomic<bool>*, 2> cancel{};  // either true stops it
        std::function<void()> started;                     // its first try starts; may be empty
        // A try failed and try `attempt` (2, 3, …) waits for its time; may be empty.
        std::function<void(int attempt)> retrying;
        std::function<void(Bytes body, FetchInfo info)> done;  // exactly once
        // Requests with the same non-null key run one at a time, in the order
        // they came: a caller can queue a whole series ahead and the loop
        // starts each as soon as the one before it ends, without a round
        // trip through the caller's threads.
        const void* sequence = nullptr;
        // Within its sequence, sent only when the request before it ended
        // with a page (one that fetch_failed does not call failed and that
        // is no block page, see `blocked`): a page that depends on another
        // follows it. Otherwise `done` hears kStopped as soon as that one
        // has ended.
        bool needs_previous = false;
        // Asked on the loop's thread about each answer that is a page: true
        // when it is a page the site sends in place of the one asked for (a
        // verification or login page). Such a page is tried again as a 429
        // answer is; after the last try `done` hears it as it came, marked
        // FetchInfo::blocked. Three of them in a row from one host hold that
        // host's further requests for as long as the next retry would wait.
        // May be empty.
        std::function<bool(const Bytes& body, const FetchInfo& info)> blocked;
    };

    static TransferLoop& shared();

    void submit(Request request);

    // Makes the loop look at the cancel flags at once rather than within
    // 100 ms. Not for signal handlers: they set a flag and leave it there.
    void wake();

    // Transfers running now, and the most that ever ran at once.
    int running() const;
    int most_running() const;

private:
    struct Job;
    struct State;

    TransferLoop();
    void run();

    std::mutex mutex_;
    std::vector<std::unique_ptr<Job>> incoming_;  // under mutex_
    std::unique_ptr<State> state_;                // the loop thread's alone, but for its counters
    std::thread thread_;
};

}  // namespace qinglan
