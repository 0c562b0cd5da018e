#pragma once

// The team's work queue on the PostgreSQL server: the table "MSysQueue"
// (made with the store's other tables), one row per keyword, which every
// worker drains. A keyword is waiting, running (held by one worker until its
// lease ends), done or failed. Taking one is a transaction that skips the
// rows other workers have locked at that moment (FOR UPDATE SKIP LOCKED), so
// two workers never take the same keyword; a running keyword whose lease
// ran out (its worker died, stopped or lost the network) may be taken again.
//
// A keyword's claim, the store's advisory lock held by the session that
// writes its rows, is the second guard: a worker that takes a keyword over
// ends the sessions that still hold its claim (a stopped worker's session
// lingers), so that it can claim the keyword itself. The worker that lost
// it then finds its session gone and the claim's number changed, and stores
// nothing more into the keyword.
//
// Runs on a session of its own; not thread-safe.

#include <memory>
#include <string>
#include <vector>

#include "storage/postgres_connection.h"

namespace qinglan {

struct QueueEntry {
    std::string keyword;
    std::string state;   // waiting, running, done, failed
    std::string worker;  // HOST:PID of the worker holding it; empty when none does
    long long rows = 0;  // rows stored when its last try ended
    int members = -1;    // members listed then; -1: not known yet
    int tries = 0;       // tries begun
    int allowed = 0;     // tries it may have in all
    std::string reason;  // why its last try did not complete
    std::string profile;
    std::string profile_text;  // the profile file's content; empty: the built-in site
    std::string added;         // ISO 8601, UTC
    std::string updated;
    // take() only: the worker that held it before, when it was taken over
    // from one whose lease ran out.
    std::string previous_worker;
};

// What a finished try of a keyword did.
struct TryResult {
    bool complete = false;
    long long rows = 0;
    int members = -1;
    std::string reason;
};

class WorkQueue {
public:
    // The queue on the server at `url`; its table is made by the store, so
    // a store is opened on the same database first.
    explicit WorkQueue(const std::string& url);

    // Adds each keyword unless queued already, in the list's order;
    // `added` says which, place by place.
    bool add(const std::vector<std::string>& keywords, int tries, const std::string& profile,
             const std::string& profile_text, std::vector<bool>* added, std::string* error);
    // Every entry, in the order of adding.
    bool list(std::vector<QueueEntry>* entries, std::string* error);
    // Back to waiting with no try used: the keywords given (all failed ones
    // when `failed_only`); `changed` gets those that were queued and not running.
    bool retry(const std::vector<std::string>& keywords, bool failed_only,
               std::vector<std::string>* changed, std::string* error);
    // Out of the queue: the keywords given (all done ones when
    // `done_only`), a running one refused (left in `running`).
    bool remove(const std::vector<std::string>& keywords, bool done_only,
                std::vector<std::string>* removed, std::vector<std::string>* running,
                std::string* error);

    // Takes the first keyword that is due and held by nobody, for `worker`
    // until `lease_seconds` from now; `entry->keyword` stays empty when
    // there is none. A keyword whose lease ran out with its tries spent is
    // left failed instead.
    bool take(const std::string& worker, int lease_seconds, QueueEntry* entry, std::string* error);
    // Ends the server sessions that hold the keyword's claim, other than
    // this one: a stopped worker's session keeps its locks. Only for a
    // keyword taken over: anyone else holding a claim is collecting it.
    bool free_claim(const std::string& keyword, std::string* error);
    // Moves the lease on; `held` false when the keyword is no longer this worker's.
    bool renew(const std::string& worker, const std::string& keyword, int lease_seconds, bool* held,
               std::string* error);
    // Ends a try: done when complete, else waiting again after a pause
    // that grows with the tries, or failed once its tries are spent.
    // `state` gets the new state, empty when the keyword was no longer
    // this worker's.
    bool finish(const std::string& worker, const std::string& keyword, const TryResult& result,
                std::string* state, std::string* error);
    // Back to waiting at once without counting the try: the worker stops.
    bool give_back(const std::string& worker, const std::string& keyword, std::string* error);
    // Whether any keyword is waiting or running anywhere.
    bool busy(bool* busy, std::string* error);

private:
    postgres::Connection connection_;
};

}  // namespace qinglan
