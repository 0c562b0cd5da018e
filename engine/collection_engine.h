#pragma once

// Collection run control: a submitted keyword either re-opens its stored
// table or becomes a collection task, whose search worker fetches the search
// page and lists the member accounts and then starts the task's member
// worker, which fetches, extracts, reports and stores one member after the
// other. Tasks run at the same time as each other and as the caller; there
// is no limit on submissions or tasks.
//
// A page that cannot be fetched, after the retries of fetch_with_retries, is
// a failure, never an empty page: a failed search page fails the task, a
// failed member is counted and not stored. A keyword whose collection did
// not complete (failed, stopped, killed) is resumed when submitted again:
// its saved member list is worked through, skipping the stored members. A
// keyword is collected by one task of one collector at a time.
//
// Submissions, the table list and stop() belong to one thread (the windows'
// thread, or the command line's main thread). Workers report through the
// observer and write only their own task.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/collection_observer.h"
#include "engine/request.h"
#include "services/text.h"
#include "storage/collection_state.h"
#include "storage/record_store.h"

namespace qinglan {

struct SubmitResult {
    enum Kind {
        kReopened,  // the keyword is stored and complete: show it, collect nothing
        kStarted,   // a new collection task runs
        kResumed,   // stored but incomplete: show the stored rows; a task collects the rest
        kRefused,   // nothing runs: the keyword is being collected elsewhere, or stopping
    };
    Kind kind = kStarted;
    int task = 0;             // the task's number (kStarted, kResumed)
    bool table_ready = true;  // false: the table could not be made (kStarted)
    std::string table_error;
    int stored_rows = 0;  // kResumed: rows stored before, which the task's rows follow
    std::string refusal;  // kRefused: why
};

class CollectionEngine {
public:
    CollectionEngine(RecordStore& store, MarketHosts hosts, CollectionObserver& observer);
    ~CollectionEngine();  // stops and waits for every worker
    CollectionEngine(const CollectionEngine&) = delete;
    CollectionEngine& operator=(const CollectionEngine&) = delete;

    // Rebuilds the table list from the store, as the search window does each
    // time it opens. Until it is read again, tables made since are not in it.
    bool read_table_names(std::string* error);
    const std::vector<std::string>& table_names() const { return table_names_; }

    // The keyword exactly as typed (UTF-8). A keyword with a collection
    // state is re-opened when complete and resumed when not; one without is
    // compared byte for byte with the table list: a stored one is re-opened,
    // any other gets its table and a new task. A task's workers are running
    // when this returns. `again` starts the keyword over: its rows are
    // replaced once a new member list has been read.
    SubmitResult submit_keyword(const std::string& keyword, bool again = false);

    // Waits until every task started so far has finished.
    void wait_all();

    // Ends every running transfer promptly and waits for the workers; rows
    // already stored stay. Further submissions are refused.
    void stop();

    // The same without waiting: safe from any thread, and from a signal
    // handler. Waits for a busy database give up as well.
    void request_stop() {
        stopping_ = true;
        store_.interrupt();
    }

    int task_count() const;

private:
    // One keyword's collection. After its creation it is written only by its
    // own workers, one after the other.
    struct Task {
        int number = 0;
        std::string keyword;      // as typed (UTF-8): the table's name
        Text keyword_gbk;         // for the request
        std::string table_error;  // why the table could not be made (outcome.table_ready false)
        bool again = false;       // the new member list replaces the stored rows
        CollectionState resumed;  // what an earlier run left (a resumed task)
        TextList members;         // filled by the search worker before the member worker starts
        int rows = 0;             // rows of the task's result list so far
        TaskOutcome outcome;
        std::thread search_thread;
        std::thread member_thread;  // set by the search worker as its last act
    };

    void search_worker(Task& task);
    void member_worker(Task& task);
    void run_search_step(Task& task);
    void run_member_step(Task& task);
    bool list_members(Task& task);
    void collect_member(Task& task, int i, int n);
    bool fetch_text(const Text& url, Text* text, std::string* failure);
    SubmitResult start_task(std::unique_ptr<Task> task, SubmitResult result);
    void finish(Task& task);

    RecordStore& store_;
    const MarketHosts hosts_;
    CollectionObserver& observer_;
    const TextList mobile_prefixes_;
    std::atomic<bool> stopping_{false};

    std::vector<std::string> keywords_;     // every submission, in order
    std::vector<std::string> table_names_;  // as last read

    mutable std::mutex tasks_mutex_;
    std::vector<std::unique_ptr<Task>> tasks_;  // never shrinks; tasks never move
};

}  // namespace qinglan
