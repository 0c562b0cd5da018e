// The main window's side of the collections: what a submitted keyword gets
// (a result tab, a task, or a message), and the tasks' reports applied to the
// task list, the result lists and the status line.

#include <QTreeWidget>

#include "app/main_window.h"
#include "app/qt_text.h"
#include "app/result_list_model.h"
#include "app/stored_rows_loader.h"

namespace qinglan {

void MainWindow::submit_keyword(const QString& keyword) {
    if (!engine_) {
        return;
    }
    const std::string typed = keyword.toStdString();
    // A keyword whose table the database refuses is refused; without any
    // database every keyword is collected and only shown.
    const SubmitResult result = engine_->submit_keyword(
        typed, false, database_open_ ? MissingTable::kRefuse : MissingTable::kCollect);
    switch (result.kind) {
        case SubmitResult::kReopened:
            load_stored_rows(keyword, add_result_list_and_tab(keyword), StoredRowsLoader::kAllRows);
            return;
        case SubmitResult::kResumed: {
            // One list for both: the stored rows from the database, the
            // task's new rows after them.
            ResultListModel* model = add_result_list_and_tab(keyword);
            task_keywords_[result.task] = keyword;
            task_models_[result.task] = model;
            load_stored_rows(keyword, model, result.stored_rows);
            return;
        }
        case SubmitResult::kRefused:
            if (!result.table_ready) {
                dialogs_.message(nullptr, QStringLiteral("失败"), Dialogs::Icon::kNone, QString(),
                                 from_utf8(result.table_error));
                return;
            }
            dialogs_.message(nullptr,
                             QStringLiteral("关键字「") + keyword +
                                 QStringLiteral("」正在由其他采集器采集，本次未采集。"),
                             Dialogs::Icon::kInformation, QString(), from_utf8(result.refusal));
            return;
        case SubmitResult::kStarted:
            break;
    }
    task_keywords_[result.task] = keyword;
    task_models_[result.task] = add_result_list_and_tab(keyword);
    if (!result.table_ready) {
        warn_not_stored(result.task, keyword);
    }
}

void MainWindow::load_stored_rows(const QString& keyword, ResultListModel* model, int row_limit) {
    loaders_.push_back(std::make_unique<StoredRowsLoader>(
        *store_, keyword.toStdString(), row_limit, model, [this, keyword](const QString& reason) {
            dialogs_.message(
                nullptr,
                QStringLiteral("无法读取关键字「") + keyword + QStringLiteral("」的数据。"),
                Dialogs::Icon::kWarning, QString(), reason);
        }));
}

QTreeWidgetItem* MainWindow::add_task_row(int task, const QString& keyword, int total) {
    QTreeWidgetItem*& item = task_rows_[task];
    if (item == nullptr) {
        item = new QTreeWidgetItem(task_list_);
    }
    item->setText(kTaskName, keyword);
    item->setText(kTaskTotal, total >= 0 ? QString::number(total) : QString());
    return item;
}

void MainWindow::apply_updates(CollectionUpdates&& updates) {
    for (const auto& [task, waiting] : updates.waiting) {
        // A task waiting for its turn on the network shows at once, with
        // its total still unknown.
        if (waiting) {
            add_task_row(task, task_keywords_[task], -1)
                ->setText(kTaskDone, QStringLiteral("排队"));
        } else if (const auto row = task_rows_.find(task); row != task_rows_.end()) {
            row->second->setText(kTaskDone, QString());
        }
    }
    for (const auto& row : updates.task_rows) {
        add_task_row(row.task, row.keyword, row.total);
    }
    for (auto& [task, cells] : updates.cells) {
        const auto model = task_models_.find(task);
        if (model != task_models_.end()) {
            model->second->apply_cells(cells);
        }
    }
    for (const auto& [task, done] : updates.done) {
        const auto row = task_rows_.find(task);
        if (row != task_rows_.end()) {
            row->second->setText(kTaskDone, QString::number(done));
        }
    }
    for (const auto& [task, failed] : updates.failed_members) {
        const auto row = task_rows_.find(task);
        if (row != task_rows_.end()) {
            row->second->setText(kTaskFailed, QString::number(failed.count));
            row->second->setToolTip(kTaskFailed, failed.reason);
        }
    }
    for (int part = 0; part < 2; ++part) {
        if (updates.status[part]) {
            set_status(part, *updates.status[part]);
        }
    }
    show_storage_failures(updates.failures);
    for (const auto& [task, outcome] : updates.finished) {
        show_task_end(task, outcome);
    }
}

void MainWindow::show_storage_failures(const std::vector<std::pair<int, QString>>& failures) {
    for (const auto& [task, reason] : failures) {
        // Once per task: a table that refuses one row refuses them all.
        if (failure_shown_[task]) {
            continue;
        }
        failure_shown_[task] = true;
        set_status(0, QStringLiteral("状态：数据保存失败"));
        dialogs_.message(nullptr,
                         QStringLiteral("关键字「") + task_keywords_[task] +
                             QStringLiteral("」采集到的数据未能保存到数据库。"),
                         Dialogs::Icon::kWarning, QString(), reason);
    }
}

void MainWindow::show_task_end(int task, const TaskOutcome& outcome) {
    if (!outcome.failure.empty()) {
        // A task whose search page failed never got its row: it gets one
        // now, so that the failure stands beside the keyword.
        const auto found = task_rows_.find(task);
        QTreeWidgetItem* row =
            found != task_rows_.end() ? found->second : add_task_row(task, task_keywords_[task], 0);
        const QString reason = from_utf8(outcome.failure_chinese);
        row->setText(kTaskDone, QStringLiteral("失败：") + reason);
        for (int column = 0; column < kTaskColumns; ++column) {
            row->setToolTip(column, reason);
        }
        return;
    }
    if (outcome.failed_members > 0) {
        // Those members are not stored, so submitting the keyword again
        // collects just them.
        set_status(0, QStringLiteral("状态：") + QString::number(outcome.failed_members) +
                          QStringLiteral("位用户信息采集失败，可再次提交关键字继续采集"));
    }
}

}  // namespace qinglan
