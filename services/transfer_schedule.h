#pragma once

// The transfer loop's decisions, apart from its transfers: which waiting
// requests may start, when the next one may, what an ended transfer gives
// back, when a retry is due and which waiting requests are cancelled. It
// knows requests by number only, is told the time by its caller and draws
// the spread of its delays from a source the caller may give, so that every
// rule can be checked without a socket, a clock or a thread.
//
// The rules are those of TransferLoop (see there): requests wait in the
// order they came and start while fewer than `connections` run in all,
// fewer than `per_host` run to their host, `delay_ms` (±50%) has passed
// since the last start to that host and the page budget has room for one
// more page at the cap. A host at its limit never holds up another host.
//
// Requests with the same sequence key run one at a time in the order they
// came; a retry keeps its turn. A request that needs the one before it is
// sent only when that one ended with a page; otherwise it ends unsent.
//
// One thread uses it at a time (the transfer loop's).

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "services/page_budget.h"

namespace qinglan {

class TransferSchedule {
public:
    using Clock = std::chrono::steady_clock;
    using Id = std::uint64_t;
    using CancelFlags = std::array<const std::atomic<bool>*, 2>;
    // The factor of one delay between starts, from 0.5 to 1.5.
    using Jitter = std::function<double()>;

    struct Limits {
        int connections = 16;
        int per_host = 8;
        long delay_ms = 0;
        std::size_t max_page_bytes = 0;     // 0: no page budget
        std::size_t page_budget_bytes = 0;  // 0: no page budget
    };

    struct Entry {
        std::string host;  // name and port; empty: the request has no address
        const void* sequence = nullptr;
        bool needs_previous = false;  // within its sequence, see above
        CancelFlags cancel{};         // either true: the request is cancelled
    };

    // Why a request ended without being sent.
    enum class Unsent { kNoAddress, kCancelled, kPreviousFailed };
    struct Dropped {
        Id id = 0;
        Unsent why = Unsent::kCancelled;
    };

    // Without a jitter source the delays are spread at random.
    explicit TransferSchedule(Jitter jitter = {});

    void set_limits(const Limits& limits) { limits_ = limits; }

    // A new request: it waits for its turn, then for room to start. One
    // that cannot be sent ends at once (see take_dropped).
    void add(Id id, Entry entry, Clock::time_point now);

    // The waiting requests that start now, in the order they came. Each
    // holds a connection, a place at its host and a page of the budget
    // until release().
    std::vector<Id> start(Clock::time_point now);

    // When a waiting request may start next without anything else ending:
    // a host's delay or a retry's back-off is over. Nothing when none waits
    // for either.
    std::optional<Clock::time_point> next_due() const;

    // The running request's transfer is over and its body handed over.
    void release(Id id, Clock::time_point now);

    // The running request's transfer failed and it tries again once `when`
    // has come, keeping its turn in its sequence: it holds no connection,
    // place at its host or page of the budget meanwhile.
    void retry_at(Id id, Clock::time_point when, Clock::time_point now);

    // The running request's transfer brought a page, `blocked` when the
    // site sent one in place of the page asked for. After kBlocksBeforeHold
    // such pages in a row from one host, no request to that host starts
    // before `hold_until` (the next try of this one), so that a site asking
    // the client to stop is not asked again at once by every other request.
    // A page that is not blocked ends the run.
    void answered(Id id, bool blocked, Clock::time_point hold_until, Clock::time_point now);
    static constexpr int kBlocksBeforeHold = 3;

    // The request is over for good, with a page or without one; the next
    // request of its sequence gets the turn.
    void end(Id id, bool page, Clock::time_point now);

    // Ends every waiting request (for its turn, room or retry) whose cancel
    // flag is up.
    void drop_cancelled(Clock::time_point now);

    // The requests ended without being sent since the last call, in the
    // order they ended. The schedule has forgotten them.
    std::vector<Dropped> take_dropped();

    // Nothing waits, runs or waits to try again.
    bool idle() const { return requests_.empty(); }
    int running() const { return running_; }

private:
    struct Request {
        Entry entry;
        std::uint64_t order = 0;  // place in the queue
        bool has_turn = false;    // its sequence's turn is this request's
        bool running = false;
        std::size_t reserved = 0;  // of the page budget, while it runs
    };
    struct Host {
        std::deque<Id> waiting;
        int running = 0;
        Clock::time_point next_start{};
        std::uint64_t ready_order = 0;  // its entry in ready_, when `ready`
        bool ready = false;
    };
    struct Sequence {
        std::deque<Id> waiting;  // for the turn
        bool in_turn = false;    // a request holds the turn
        // The last request that came ended at once, unsent: one that needs
        // it is not sent either. Kept, even with nothing else left of the
        // sequence, until the next request of the sequence comes.
        bool last_came_unsent = false;
    };

    bool cancelled(const Request& request) const;
    void queue(Id id, Clock::time_point now);
    void refresh(const std::string& name, Clock::time_point now);
    void wake_due(Clock::time_point now);
    void pass_turn(const void* key, bool page, Clock::time_point now);
    void drop(Id id, Unsent why, Clock::time_point now);
    Clock::duration jittered(long delay_ms);

    Limits limits_;
    Jitter jitter_;
    std::uint64_t next_order_ = 0;
    int running_ = 0;
    std::unordered_map<Id, Request> requests_;  // every request not yet over
    std::unordered_map<std::string, Host> hosts_;
    // Hosts whose first waiting request may start, by that request's order.
    std::set<std::pair<std::uint64_t, std::string>> ready_;
    std::multimap<Clock::time_point, std::string> paused_hosts_;  // by when their delay ends
    std::multimap<Clock::time_point, Id> retries_;
    std::unordered_map<const void*, Sequence> sequences_;
    std::unordered_map<std::string, int> blocks_in_row_;  // by host
    PageBudget page_budget_;
    std::vector<Dropped> dropped_;
};

}  // namespace qinglan
