#pragma once

// Collection run control: a submitted keyword either re-opens its stored
// table or becomes a collection task, which fetches the search pages, lists
// the member accounts, and then fetches, extracts, reports and stores the
// members. What the pages are and how they are read is the task's Site. Tasks run at the same time
// as each other and as the caller; there is no limit on submissions or tasks.
//
// No task has a thread of its own: every transfer runs on the process's
// transfer loop, and a task's steps (scanning, extracting, storing) run one
// after the other on a small pool of threads. Each task keeps up to
// `parallel` members in flight, all their pages at once; rows are still
// extracted, reported, numbered and stored strictly in page order. With
// `parallel` 1 a task sends each member's pages one at a time in the site's
// order (card, contact page, card, … for the built-in site).
//
// Result pages are read in order, one at a time, up to the site's pages():
// an account an earlier page listed is not listed again, and the page that
// lists no new account is the last one read. With `parallel` 1 every result
// page is read before the first member page is asked for; above 1 the
// members listed so far are collected meanwhile.
//
// A page that cannot be fetched, after the loop's retries, is a failure,
// never an empty page: a failed first search page fails the task, a later
// one ends the reading there (the task fails, its listed members are still
// collected, and the keyword stays incomplete), a failed member is counted
// and not stored. A keyword whose collection did not complete
// (failed, stopped, killed) is resumed when submitted again: its saved
// member list is worked through, skipping the stored members. A keyword is
// collected by one task of one collector at a time.
//
// Submissions, the table list and stop() belong to one thread (the windows'
// thread, or the command line's main thread). Steps report through the
// observer and write only their own task.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/collection_observer.h"
#include "engine/page_saver.h"
#include "engine/request.h"
#include "engine/site/built_in_site.h"
#include "engine/work_pool.h"
#include "services/fetch.h"
#include "services/text.h"
#include "services/transfer_loop.h"
#include "storage/collection_state.h"
#include "storage/record_store.h"

namespace qinglan {

struct SubmitResult {
    enum Kind {
        kReopened,  // the keyword is stored and complete: show it, collect nothing
        kStarted,   // a new collection task runs
        kResumed,   // stored but incomplete: show the stored rows; a task collects the rest
        kRefused,   // nothing runs: the site cannot search for the keyword (the
                    // built-in site: GBK lacks one of its characters), it is being
                    // collected elsewhere, or stopping, or its table cannot be made
                    // (table_ready false), or it was collected from another site
                    // (stored_site)
    };
    Kind kind = kStarted;
    int task = 0;             // the task's number (kStarted, kResumed)
    bool table_ready = true;  // false: the table could not be made (kStarted, kRefused)
    std::string table_error;
    int stored_rows = 0;  // kResumed: rows stored before, which the task's rows follow
    std::string refusal;  // kRefused: why
    // kRefused because the keyword was collected from another site: that
    // site's name. Its rows mean nothing under this one.
    std::string stored_site;
};

// What a keyword whose table cannot be made gets: a task that collects and
// reports its rows without storing them (kCollect), or nothing at all, the
// refusal saying why (kRefuse).
enum class MissingTable { kCollect, kRefuse };

class CollectionEngine {
public:
    CollectionEngine(RecordStore& store, MarketHosts hosts, CollectionObserver& observer,
                     int parallel = 8, std::shared_ptr<const Site> site = built_in_site());
    ~CollectionEngine();  // stops and waits for every task
    CollectionEngine(const CollectionEngine&) = delete;
    CollectionEngine& operator=(const CollectionEngine&) = delete;

    // Rebuilds the table list from the store, as the search window does each
    // time it opens. Until it is read again, tables made since are not in it.
    bool read_table_names(std::string* error);
    const std::vector<std::string>& table_names() const { return table_names_; }

    // The keyword exactly as typed (UTF-8). One the site cannot search for
    // (the built-in site: one with a character GBK lacks) is refused before
    // anything else. A keyword with a collection
    // state is re-opened when complete and resumed when not; one without is
    // compared byte for byte with the table list: a stored one is re-opened,
    // any other gets its table and a new task. A task's workers are running
    // when this returns. `again` starts the keyword over: its rows are
    // replaced once a new member list has been read.
    SubmitResult submit_keyword(const std::string& keyword, bool again = false,
                                MissingTable missing_table = MissingTable::kCollect);

    // Whether the site of the tasks started from now on can search for the
    // keyword; false with why not (UTF-8).
    bool searchable(const std::string& keyword, std::string* refusal) const;
    const Site& site() const { return *site_; }

    // The marketplace, its site and the members in flight of the tasks
    // started from now on; running tasks keep theirs. On the submissions'
    // thread.
    void set_market(MarketHosts hosts, int parallel,
                    std::shared_ptr<const Site> site = built_in_site());

    // Where the tasks started from now on keep every page they fetch;
    // nullptr (the default): nowhere. On the submissions' thread.
    void set_page_saver(std::shared_ptr<PageSaver> saver) { page_saver_ = std::move(saver); }

    // Waits until every task started so far has finished.
    void wait_all();

    // Ends every running transfer promptly and waits for the tasks; rows
    // already stored stay. Further submissions are refused.
    void stop();

    // Ends the transfers of task `number` (1-based) promptly, without
    // waiting; the task finishes as stopped, its stored rows stay and a
    // later submission of its keyword resumes it. Other tasks run on. False
    // for a number no task has; a task that has ended is left as it is.
    bool stop_task(int number);

    // The same as stop() without waiting: safe from any thread, and from a signal
    // handler. Waits for a busy database give up as well.
    void request_stop() {
        stopping_ = true;
        store_.interrupt();
    }

    int task_count() const;

private:
    struct Task;
    struct Member;

    SubmitResult start_task(std::unique_ptr<Task> task, SubmitResult result);
    void post(Task& task, std::function<void()> step);
    TransferLoop::Request page_request(Task& task, const Text& url,
                                       std::function<void(Bytes, FetchInfo)> then);
    void begin(Task& task);
    void request_result_page(Task& task, int page);
    void search_done(Task& task, const Bytes& body, const FetchInfo& info);
    bool empty_first_page(Task& task, const Text& page, std::size_t bytes);
    void fail_task(Task& task, std::string failure, std::string failure_chinese);
    void read_on(Task& task);
    void later_page_done(Task& task, int page, const Bytes& body, const FetchInfo& info);
    void fail_reading(Task& task, std::string failure, std::string failure_chinese);
    void add_members(Task& task, TextList accounts);
    void end_reading(Task& task);
    void start_members(Task& task);
    void launch_members(Task& task);
    void launch_member(Task& task, std::size_t slot, Member& member);
    void page_done(Task& task, std::size_t slot, std::size_t page, const Bytes& body,
                   const FetchInfo& info);
    void commit_members(Task& task);
    void commit_member(Task& task, Member& member);
    // Counts the store's answers for the task's rows.
    void take_stored(Task& task, const std::vector<QueuedRow>& settled);
    void give_up_keyword(Task& task, const std::string& reason);
    void finish(Task& task);
    bool stopped(const Task& task) const;

    RecordStore& store_;
    MarketHosts hosts_;
    CollectionObserver& observer_;
    std::shared_ptr<const Site> site_;
    std::shared_ptr<PageSaver> page_saver_;
    int parallel_;
    std::atomic<bool> stopping_{false};

    std::vector<std::string> keywords_;     // every submission, in order
    std::vector<std::string> table_names_;  // as last read

    mutable std::mutex tasks_mutex_;
    std::condition_variable task_ended_;
    int running_tasks_ = 0;                     // under tasks_mutex_
    std::vector<std::unique_ptr<Task>> tasks_;  // never shrinks; tasks never move
    // Declared last: destroyed first, finishing every step before the tasks go.
    WorkPool pool_;
};

}  // namespace qinglan
