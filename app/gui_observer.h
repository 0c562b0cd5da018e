#pragma once

// Carries what the collection workers report to the windows' thread. Reports
// are gathered under a lock and handed over in one batch by a queued call,
// so a busy collection costs the windows one update per event-loop turn, not
// one per field. The batches are answers to the context object (see
// UiAnswers): once that is gone, nothing more is delivered.

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "app/background_work.h"
#include "app/result_list_model.h"
#include "engine/collection_observer.h"

namespace qinglan {

struct CollectionUpdates {
    struct TaskRow {
        int task;
        QString keyword;
        int total;
    };
    struct MemberFailures {
        int count = 0;   // members of the task whose pages could not be fetched
        QString reason;  // why the last one failed
    };
    std::map<int, QString> status[2];  // by task: its last text of each part
    std::vector<TaskRow> task_rows;
    std::map<int, std::vector<ResultListModel::Cell>> cells;  // by task
    std::map<int, int> done;                                  // by task: members handled
    std::map<int, MemberFailures> failed_members;             // by task
    std::map<int, bool> waiting;                              // by task: for its turn
    std::map<int, int> retrying;                              // by task: the attempt waiting
    std::vector<std::pair<int, QString>> failures;            // task, what the store refused
    std::vector<std::pair<int, TaskOutcome>> finished;
};

class GuiObserver final : public CollectionObserver {
public:
    using Apply = std::function<void(CollectionUpdates&&)>;

    // `apply` runs on `context`'s thread.
    GuiObserver(QObject* context, Apply apply);

    void status_changed(int task, int part, const std::string& text) override;
    void task_row_added(int task, const std::string& keyword, int total) override;
    void record_cell(int task, int row, int field, const std::string& value) override;
    void member_done(int task, int done) override;
    void member_failed(int task, int failed, const std::string& reason) override;
    void task_waiting(int task, bool waiting) override;
    void task_retrying(int task, int attempt) override;
    void storage_failed(int task, const std::string& message) override;
    void task_finished(int task, const TaskOutcome& outcome) override;

    // Delivers what is pending now, on the calling (windows') thread.
    void flush();

private:
    void schedule();  // under mutex_

    UiAnswers answers_;
    Apply apply_;
    std::mutex mutex_;
    CollectionUpdates pending_;
    bool scheduled_ = false;
};

}  // namespace qinglan
