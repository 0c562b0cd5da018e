#pragma once

// The collections behind the main window, without any widget: the database
// (or, when it cannot be opened, a stand-in that fails wherever it is used),
// the engine, and what the window knows of each task it started. The
// engine's workers report to the observer, which hands their reports to the
// window's thread in batches.
//
// It also keeps the sums the status line shows once every task has ended:
// the rows stored and the members failed by the tasks that ended since the
// last time none ran.

#include <QObject>
#include <QPointer>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/gui_observer.h"
#include "engine/collection_engine.h"
#include "engine/request.h"
#include "storage/record_store.h"

namespace qinglan {

// One task as the window shows it, from its submission on.
struct TaskView {
    QString keyword;
    // Where its rows are shown; it goes when its tab is closed, and the task
    // runs on without showing its rows.
    QPointer<QObject> page;
    bool running = false;
    // A task's storage failure is said once: a table that refuses one row
    // refuses them all.
    bool failure_shown = false;
};

class CollectionSession {
public:
    // What the tasks that ended since the last time none ran stored and failed.
    struct Summary {
        long long stored = 0;
        long long failed = 0;
        int failed_searches = 0;  // tasks whose search failed: nothing of them ran
    };

    // The workers' reports go to `apply` on `window`'s thread.
    CollectionSession(QObject* window, GuiObserver::Apply apply);
    CollectionSession(const CollectionSession&) = delete;
    CollectionSession& operator=(const CollectionSession&) = delete;

    // Opens the database at `place` (a folder or a server's address) and
    // makes the engine. False, with the reason in database_error(), when the
    // database cannot be opened: the engine then works with a stand-in, so
    // rows are shown and exported, not stored.
    bool open(const std::string& place, MarketHosts hosts, int parallel,
              std::shared_ptr<const Site> site);
    bool opened() const { return engine_ != nullptr; }
    bool database_open() const { return database_open_; }
    const std::string& database_error() const { return database_error_; }
    // Valid once opened.
    RecordStore& store() { return *store_; }
    CollectionEngine& engine() { return *engine_; }
    const CollectionEngine& engine() const { return *engine_; }

    // Submits the keyword (UTF-8): with a database, a keyword whose table
    // it refuses is refused; without one every keyword is collected.
    SubmitResult submit(const std::string& keyword, bool again);

    // Task `task` started for `keyword`, showing its rows in `page`. True
    // when no other task was running.
    bool task_started(int task, const QString& keyword, QObject* page);
    bool running() const { return running_ > 0; }
    bool running(int task) const;
    // Task `task` ended: the summary when it was the last one running.
    std::optional<Summary> task_ended(int task, const TaskOutcome& outcome);
    // True the first time for a task: its storage failure is to be said.
    bool first_failure(int task);
    // Null for a number no task of this window has.
    const TaskView* task(int number) const;
    QString keyword_of(int task) const;
    // Tasks started and not yet ended.
    int running_tasks() const { return running_; }

    // Ends task `task`'s transfers when it is running.
    void stop_task(int task);
    // Stops every task and waits for them; what they reported before they
    // ended is applied.
    void stop();

    // The rows stored for the keyword; none when they cannot be counted.
    std::optional<long long> stored_rows(const std::string& keyword);
    // Deletes a stored keyword that no collector is collecting. False with
    // the reason; `busy` tells a keyword being collected.
    bool forget(const std::string& keyword, bool* busy, std::string* error);

private:
    std::map<int, TaskView> tasks_;  // by task number
    int running_ = 0;
    Summary ended_;

    // Declared in the order they are needed: the engine's workers report to
    // the observer and write to the store, so the engine goes first (and
    // stops and waits for its tasks as it goes).
    std::unique_ptr<RecordStore> store_;
    bool database_open_ = false;
    std::string database_error_;  // why it could not be opened
    GuiObserver observer_;
    std::unique_ptr<CollectionEngine> engine_;
};

}  // namespace qinglan
