#pragma once

// Shows a headless collection on the terminal. Status texts and storage
// failures go to stderr as lines, each tagged with its task's keyword. When
// stderr is a terminal, a live progress line per task stands below them;
// otherwise each handled member is a plain line, written after its row was
// stored, so a log shows exactly what reached the database.

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/terminal_text.h"
#include "engine/collection_observer.h"

namespace qinglan {

// The summary line of a keyword's finished task ("KEYWORD: collected 3 of 3
// members, 3 rows stored", "KEYWORD: failed: search page: …", with failed
// members, rows not stored and the first storage failure when there were
// any), its keyword escaped.
std::string task_summary(const std::string& keyword, const TaskOutcome& outcome,
                         const std::string& first_failure);

class ConsoleObserver final : public CollectionObserver {
public:
    explicit ConsoleObserver(std::FILE* out, bool live);

    // The keyword of a task, before its workers report.
    void name_task(int task, const std::string& keyword);
    // Drops a name given to a number that no task took.
    void forget_task(int task);

    void status_changed(int task, int part, const std::string& text) override;
    void task_waiting(int task, bool waiting) override;
    void task_row_added(int task, const std::string& keyword, int total) override;
    void member_done(int task, int done) override;
    void member_failed(int task, int failed, const std::string& reason) override;
    void storage_failed(int task, const std::string& message) override;
    void task_finished(int task, const TaskOutcome& outcome) override;

    // The first storage failure of a task, empty when there was none.
    std::string first_failure(int task) const;
    // The outcome of a finished task; nullptr while it runs.
    const TaskOutcome* outcome(int task) const;

private:
    struct Progress {
        std::string keyword;
        int total = -1;  // unknown until the search step ends
        int done = 0;
        int failed = 0;
        bool waiting = false;  // for its turn on the network
        std::string failure;
        bool finished = false;
        TaskOutcome outcome;
    };

    void line(int task, const std::string& text);  // under mutex_
    void redraw();                                 // under mutex_

    std::FILE* out_;
    const bool live_;
    mutable std::mutex mutex_;
    std::map<int, Progress> tasks_;
    int live_lines_ = 0;  // progress lines now on the screen below the log
};

}  // namespace qinglan
