#pragma once

// What a collection reports while it runs. Calls come from the tasks' worker
// threads, several at once; an implementation forwards them to where they
// are shown (the windows' thread, the terminal) and must not block for long.
// Every text is UTF-8. Tasks are numbered from 1 in the order they were made;
// rows are 0-based positions in the task's result list.

#include <string>

#include "services/contact_record.h"

namespace qinglan {

// How a task ended. Counts are of this task's run; a resumed task adds to
// what earlier runs stored.
struct TaskOutcome {
    int members = 0;              // accounts of the member list
    int stored_before = 0;        // members stored by earlier runs (a resumed task)
    int handled = 0;              // members fetched and extracted
    int stored = 0;               // rows the store accepted
    int failed_inserts = 0;       // rows the store refused
    int failed_members = 0;       // members whose pages could not be fetched: not stored
    bool table_ready = true;      // the keyword's table could be made
    bool completed = false;       // every member was worked on: not stopped, no failed search
    bool stopped = false;         // ended by a stop, of this task or of all
    std::string failure;          // why the task failed as a whole; empty when it did not
    std::string failure_chinese;  // the same as the windows say it
    std::string member_failure;   // why the first failed member failed
    // A search page without accounts: what it was ("title \"…\", 18 KB"),
    // so that a login or verification page in place of the results shows.
    std::string empty_page;
    std::string empty_page_chinese;

    // Nothing failed and nothing was left out.
    bool succeeded() const {
        return completed && failure.empty() && failed_inserts == 0 && failed_members == 0 &&
               table_ready;
    }
};

class CollectionObserver {
public:
    virtual ~CollectionObserver() = default;

    // A status line text of `task`. Part 0 holds the search state, part 1
    // the member progress; in the windows all tasks write the same two parts
    // and the last text stands.
    virtual void status_changed(int task, int part, const std::string& text) = 0;

    // The task waits for its turn (true) until its first transfer starts
    // (false): transfers beyond the limits of the transfer loop wait.
    virtual void task_waiting(int task, bool waiting) { (void)task, (void)waiting; }

    // A page of the task could not be fetched and waits to be tried again,
    // for the `attempt`th time (2, 3, …).
    virtual void task_retrying(int task, int attempt) { (void)task, (void)attempt; }

    // The task's row of the task list: its keyword and its member count.
    virtual void task_row_added(int task, const std::string& keyword, int total) = 0;

    // One field of the member in hand, as soon as its value is known.
    virtual void record_cell(int task, int row, int field, const std::string& value) {
        (void)task, (void)row, (void)field, (void)value;
    }

    // The whole record of the member in hand, before it is stored.
    virtual void record_collected(int task, int row, const ContactRecord& record) {
        (void)task, (void)row, (void)record;
    }

    // `done` members of the task are handled (the row is stored or refused),
    // those of earlier runs of the keyword included.
    virtual void member_done(int task, int done) = 0;

    // `failed` members of the task could not be fetched; `reason` is why the
    // last one failed. Their rows are not stored.
    virtual void member_failed(int task, int failed, const std::string& reason) {
        (void)task, (void)failed, (void)reason;
    }

    // The store refused something of this task; `message` says what and why.
    virtual void storage_failed(int task, const std::string& message) = 0;

    virtual void task_finished(int task, const TaskOutcome& outcome) = 0;
};

}  // namespace qinglan
