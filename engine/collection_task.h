#pragma once

// One keyword's collection, as the engine's steps see it. Everything below
// `strand` is touched only by the task's own steps, which run one after the
// other; the rest is set before the first step and read-only after.

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/collection_engine.h"

namespace qinglan {

// A member whose pages are asked for: what came back so far.
struct CollectionEngine::Member {
    int index = 0;                // 0-based in the member list
    int pages_waited = 0;         // pages asked for and not yet back
    TextList pages;               // one text per member page of the site, in its order
    std::string failure;          // empty while nothing failed
    std::size_t failed_page = 0;  // the page `failure` tells of, while it is not empty
    bool ready() const { return pages_waited == 0; }
};

struct CollectionEngine::Task {
    explicit Task(WorkPool& pool) : strand(pool) {}

    int number = 0;
    std::string keyword;      // as typed (UTF-8): the table's name
    std::string table_error;  // why the table could not be made (outcome.table_ready false)
    bool again = false;       // the new member list replaces the stored rows
    MarketHosts hosts;        // where it collects
    std::shared_ptr<const Site> site;         // what it asks for and how it reads the pages
    int parallel = 1;                         // members in flight at once
    std::shared_ptr<PageSaver> page_saver;    // keeps the fetched pages; may be nullptr
    CollectionState resumed;                  // what an earlier run left (a resumed task)
    std::atomic<bool> stop_requested{false};  // this task alone is to stop (stop_task)

    Strand strand;
    TextList members;
    int next_page = 0;                // the result page to read next; 0: the reading has ended
    std::unordered_set<Text> listed;  // the accounts of `members`, while pages are read
    bool members_started = false;     // `to_collect` is made: members are being collected
    std::vector<int> to_collect;      // indexes of the members not stored yet, in page order
    std::deque<Member> in_flight;     // to_collect[committed ...] whose pages are asked for
    std::size_t launched = 0;         // of to_collect
    std::size_t committed = 0;        // of to_collect
    int transfers = 0;                // asked for and not back
    bool announced = false;           // the first transfer started
    int rows = 0;                     // rows of the task's result list so far
    bool claim_lost = false;          // another collector took the keyword: stopped, and failed
    TaskOutcome outcome;
};

}  // namespace qinglan
