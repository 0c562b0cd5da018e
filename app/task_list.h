#pragma once

// The task list ("采集任务"): one row per collection task, in the order the
// tasks were made, showing its keyword, its member count, the members done
// and failed, its state (排队, 采集中, 完成, 未完成 when members failed,
// 失败 with the reason in a tooltip, 已停止) and a progress bar. A keyword
// collected again (continued, re-collected, resubmitted) takes over its
// ended row rather than adding one. A right-click offers 停止 for a task
// that runs, 继续 for one that ended incomplete and 清除已结束, which
// removes the rows of the tasks that ended; the list only asks, through its
// signals, and the window decides, except for clearing.

#include <QTreeWidget>

#include <map>

#include "engine/collection_observer.h"

namespace qinglan {

enum class TaskState { kQueued, kCollecting, kDone, kIncomplete, kFailed, kStopped };

class TaskList final : public QTreeWidget {
    Q_OBJECT

public:
    enum Column { kName, kTotal, kDone, kFailed, kState, kProgress, kColumns };
    // The progress column's percentage; absent while the total is unknown.
    static constexpr int kProgressRole = Qt::UserRole + 1;

    explicit TaskList(QWidget* parent = nullptr);

    static QString state_text(TaskState state);

    // A row for a new task, waiting for its turn, its total still unknown:
    // the ended row of the same keyword when there is one.
    // `site_note`, when not empty, is added to the keyword's tooltip.
    void add_task(int task, const QString& keyword, const QString& site_note = QString());
    void set_total(int task, int total);
    void set_done(int task, int done);
    void set_failed_members(int task, int count, const QString& reason);
    // Queued while waiting for the network, collecting from its first transfer on.
    void set_waiting(int task, bool waiting);
    // A page of the task waits to be tried again: "重试中" with the attempt,
    // until a member is done.
    void set_retrying(int task, int attempt);
    void set_ended(int task, const TaskOutcome& outcome);
    // Removes the rows of the tasks that ended.
    void clear_ended();

    TaskState state(int task) const;
    bool running(int task) const;
    // Ended without every member stored: submitting it again collects the rest.
    bool incomplete(int task) const;
    QTreeWidgetItem* row(int task) const;
    int task_of(const QTreeWidgetItem* row) const;

    // The height that shows the heading and `rows` rows.
    int height_for_rows(int rows) const;

signals:
    void stop_requested(int task);
    void continue_requested(int task);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct Entry {
        QTreeWidgetItem* row = nullptr;
        TaskState state = TaskState::kQueued;
        int total = -1;
        int done = 0;
        bool complete = false;
        QString name_tip;  // the keyword, with the site's name when not the built-in one
    };
    void set_state(Entry& entry, TaskState state, const QString& reason = QString());
    void show_progress(Entry& entry);
    void reuse_row(int task, const QString& keyword);
    Entry* find(int task);
    const Entry* find(int task) const;

    std::map<int, Entry> tasks_;
};

}  // namespace qinglan
