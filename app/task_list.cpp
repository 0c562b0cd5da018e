#include "app/task_list.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QStyledItemDelegate>

#include <algorithm>

#include "app/qt_text.h"

namespace qinglan {
namespace {

constexpr int kProgressRole = TaskList::kProgressRole;

// Draws the progress column as a progress bar.
class ProgressDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QVariant value = index.data(kProgressRole);
        if (!value.isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(2, 2, -2, -2);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = value.toInt();
        bar.text = QString::number(bar.progress) + QLatin1Char('%');
        bar.textVisible = true;
        bar.state = option.state | QStyle::State_Horizontal;
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
    }
};

// Why an ended task failed, as the windows say it; empty when it did not.
QString failure_reason(const TaskOutcome& outcome) {
    if (!outcome.failure.empty()) {
        return from_utf8(outcome.failure_chinese.empty() ? outcome.failure
                                                         : outcome.failure_chinese);
    }
    if (!outcome.table_ready) {
        return QStringLiteral("数据表无法创建，采集到的数据没有保存");
    }
    if (outcome.failed_inserts > 0) {
        return QStringLiteral("%1 行数据未能保存到数据库").arg(outcome.failed_inserts);
    }
    return {};
}

}  // namespace

TaskList::TaskList(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("超级列表框1"));
    setColumnCount(kColumns);
    setHeaderLabels({QStringLiteral("任务名称"), QStringLiteral("任务总量"),
                     QStringLiteral("完成数量"), QStringLiteral("失败数量"), QStringLiteral("状态"),
                     QStringLiteral("进度")});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    const int widths[kColumns] = {160, 80, 80, 80, 80, 160};
    for (int column = 0; column < kColumns; ++column) {
        setColumnWidth(column, widths[column]);
    }
    header()->setStretchLastSection(true);
    setItemDelegateForColumn(kProgress, new ProgressDelegate(this));
}

QString TaskList::state_text(TaskState state) {
    switch (state) {
        case TaskState::kQueued:
            return QStringLiteral("排队");
        case TaskState::kCollecting:
            return QStringLiteral("采集中");
        case TaskState::kDone:
            return QStringLiteral("完成");
        case TaskState::kIncomplete:
            return QStringLiteral("未完成");
        case TaskState::kFailed:
            return QStringLiteral("失败");
        case TaskState::kStopped:
            return QStringLiteral("已停止");
    }
    return {};
}

TaskList::Entry* TaskList::find(int task) {
    const auto found = tasks_.find(task);
    return found != tasks_.end() ? &found->second : nullptr;
}

const TaskList::Entry* TaskList::find(int task) const {
    const auto found = tasks_.find(task);
    return found != tasks_.end() ? &found->second : nullptr;
}

void TaskList::add_task(int task, const QString& keyword, const QString& site_note) {
    if (find(task) != nullptr) {
        return;
    }
    reuse_row(task, keyword);
    Entry& entry = tasks_[task];
    if (entry.row == nullptr) {
        entry.row = new QTreeWidgetItem(this);
        entry.row->setText(kName, keyword);
    }
    entry.name_tip = site_note.isEmpty() ? keyword : keyword + '\n' + site_note;
    set_state(entry, TaskState::kQueued);
}

// One keyword, one row: a new task of a keyword whose task ended starts
// afresh in that task's row.
void TaskList::reuse_row(int task, const QString& keyword) {
    for (auto ended = tasks_.begin(); ended != tasks_.end(); ++ended) {
        if (ended->first == task || ended->second.row->text(kName) != keyword ||
            running(ended->first)) {
            continue;
        }
        QTreeWidgetItem* row = ended->second.row;
        tasks_.erase(ended);
        for (const int column : {kTotal, kDone, kFailed}) {
            row->setText(column, QString());
            row->setToolTip(column, QString());
        }
        row->setData(kProgress, kProgressRole, QVariant());
        tasks_[task].row = row;
        return;
    }
}

void TaskList::set_state(Entry& entry, TaskState state, const QString& reason) {
    entry.state = state;
    entry.row->setText(kState, state_text(state));
    // The reason stands on the whole row, so it shows wherever the pointer is.
    for (const int column : {kName, kTotal, kDone, kState, kProgress}) {
        entry.row->setToolTip(column,
                              reason.isEmpty() && column == kName ? entry.name_tip : reason);
    }
}

void TaskList::show_progress(Entry& entry) {
    if (entry.total < 0) {
        return;
    }
    const int percent = entry.total == 0 ? 100 : std::min(100, entry.done * 100 / entry.total);
    entry.row->setData(kProgress, kProgressRole, percent);
}

void TaskList::set_total(int task, int total) {
    if (Entry* entry = find(task)) {
        entry->total = total;
        entry->row->setText(kTotal, QString::number(total));
        show_progress(*entry);
    }
}

void TaskList::set_retrying(int task, int attempt) {
    Entry* entry = find(task);
    if (entry != nullptr && entry->state == TaskState::kCollecting) {
        entry->row->setText(kState, QStringLiteral("重试中（第%1次）").arg(attempt));
    }
}

void TaskList::set_done(int task, int done) {
    if (Entry* entry = find(task)) {
        if (entry->state == TaskState::kCollecting) {
            entry->row->setText(kState, state_text(entry->state));
        }
        entry->done = done;
        entry->row->setText(kDone, QString::number(done));
        show_progress(*entry);
    }
}

void TaskList::set_failed_members(int task, int count, const QString& reason) {
    if (Entry* entry = find(task)) {
        entry->row->setText(kFailed, QString::number(count));
        entry->row->setToolTip(kFailed, reason);
    }
}

void TaskList::set_waiting(int task, bool waiting) {
    Entry* entry = find(task);
    if (entry != nullptr && running(task)) {
        set_state(*entry, waiting ? TaskState::kQueued : TaskState::kCollecting);
    }
}

void TaskList::set_ended(int task, const TaskOutcome& outcome) {
    Entry* entry = find(task);
    if (entry == nullptr) {
        return;
    }
    if (entry->total < 0) {
        set_total(task, outcome.members);
    }
    entry->complete = outcome.succeeded();
    const QString reason = failure_reason(outcome);
    if (!reason.isEmpty()) {
        if (entry->total == 0) {
            // Nothing was to be done, and nothing was: no bar.
            entry->row->setData(kProgress, kProgressRole, QVariant());
        }
        set_state(*entry, TaskState::kFailed, reason);
    } else if (outcome.completed && outcome.failed_members > 0) {
        // Those members are missing: 继续 collects them.
        set_state(*entry, TaskState::kIncomplete,
                  QStringLiteral("%1 位用户采集失败，可以继续采集").arg(outcome.failed_members));
    } else if (outcome.completed) {
        set_state(*entry, TaskState::kDone);
    } else {
        set_state(*entry, TaskState::kStopped);
    }
}

void TaskList::clear_ended() {
    for (auto entry = tasks_.begin(); entry != tasks_.end();) {
        if (running(entry->first)) {
            ++entry;
            continue;
        }
        delete entry->second.row;
        entry = tasks_.erase(entry);
    }
}

TaskState TaskList::state(int task) const {
    const Entry* entry = find(task);
    return entry != nullptr ? entry->state : TaskState::kDone;
}

bool TaskList::running(int task) const {
    const TaskState now = state(task);
    return find(task) != nullptr && (now == TaskState::kQueued || now == TaskState::kCollecting);
}

bool TaskList::incomplete(int task) const {
    const Entry* entry = find(task);
    return entry != nullptr && !running(task) && !entry->complete;
}

QTreeWidgetItem* TaskList::row(int task) const {
    const Entry* entry = find(task);
    return entry != nullptr ? entry->row : nullptr;
}

int TaskList::task_of(const QTreeWidgetItem* row) const {
    for (const auto& [task, entry] : tasks_) {
        if (entry.row == row) {
            return task;
        }
    }
    return 0;
}

int TaskList::height_for_rows(int rows) const {
    const int row_height = std::max(fontMetrics().height() + 6, 20);
    return header()->sizeHint().height() + rows * row_height + 2 * frameWidth() + 4;
}

void TaskList::contextMenuEvent(QContextMenuEvent* event) {
    QTreeWidgetItem* item = itemAt(viewport()->mapFromGlobal(event->globalPos()));
    const int task = task_of(item);
    if (task != 0) {
        setCurrentItem(item);
    }
    QMenu menu(this);
    QAction* stop = menu.addAction(QStringLiteral("停止"));
    stop->setObjectName(QStringLiteral("task_stop"));
    stop->setEnabled(task != 0 && running(task));
    QAction* resume = menu.addAction(QStringLiteral("继续"));
    resume->setObjectName(QStringLiteral("task_continue"));
    resume->setEnabled(task != 0 && incomplete(task));
    menu.addSeparator();
    QAction* clear = menu.addAction(QStringLiteral("清除已结束"));
    clear->setObjectName(QStringLiteral("task_clear"));
    clear->setEnabled(std::any_of(tasks_.begin(), tasks_.end(),
                                  [this](const auto& entry) { return !running(entry.first); }));
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == stop) {
        emit stop_requested(task);
    } else if (chosen == resume) {
        emit continue_requested(task);
    } else if (chosen == clear) {
        clear_ended();
    }
}

}  // namespace qinglan
