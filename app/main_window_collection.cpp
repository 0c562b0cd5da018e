// The main window's side of the collections: what a submitted keyword gets
// (a result tab, a task, or a message), and the tasks' reports applied to the
// task list, the result lists and the status line.

#include <QApplication>
#include <QTabWidget>

#include "app/main_window.h"
#include "app/qt_text.h"
#include "app/result_list_model.h"
#include "app/result_page.h"
#include "app/stored_rows_loader.h"
#include "app/task_list.h"
#include "app/warning_banner.h"
#include "services/charset.h"
#include "storage/store_factory.h"

namespace qinglan {

void MainWindow::submit_keyword(const QString& keyword) {
    collect(keyword, false, nullptr);
}

void MainWindow::collect(const QString& keyword, bool again, ResultPage* page) {
    if (!session_.opened()) {
        return;
    }
    // A keyword the site cannot search for (the built-in one: one GBK cannot
    // encode) is refused like one whose table cannot be made, before
    // anything runs.
    std::string refusal;
    if (!session_.engine().searchable(keyword.toStdString(), &refusal)) {
        dialogs_.message(nullptr, QStringLiteral("失败"), Dialogs::Icon::kNone, QString(),
                         from_utf8(refusal));
        return;
    }
    const SubmitResult result = session_.submit(keyword.toStdString(), again);
    switch (result.kind) {
        case SubmitResult::kReopened:
            load_stored_rows(page_for(keyword, page), StoredRowsLoader::kAllRows);
            count_stored_rows(keyword);
            return;
        case SubmitResult::kResumed: {
            // One list for both: the stored rows from the database, the
            // task's new rows after them.
            ResultPage* resumed = page_for(keyword, page);
            start_task(result.task, keyword, resumed);
            load_stored_rows(resumed, result.stored_rows);
            show_stored_rows(keyword, result.stored_rows);
            return;
        }
        case SubmitResult::kRefused:
            refused(keyword, result, page);
            return;
        case SubmitResult::kStarted:
            break;
    }
    ResultPage* started = page_for(keyword, page);
    start_task(result.task, keyword, started);
    if (result.table_ready) {
        show_stored_rows(keyword, 0);
    } else {
        warn_not_stored(result.task, keyword, started);
    }
}

// Says why a submitted keyword runs no task; a keyword a team worker
// collects shows what it stored so far instead, as a complete keyword does.
void MainWindow::refused(const QString& keyword, const SubmitResult& result, ResultPage* page) {
    if (!result.stored_site.empty()) {
        refuse_other_site(keyword, result);
        return;
    }
    if (!result.table_ready) {
        dialogs_.message(nullptr, QStringLiteral("失败"), Dialogs::Icon::kNone, QString(),
                         from_utf8(result.table_error));
        return;
    }
    if (held_by_queue_worker(keyword)) {
        load_stored_rows(page_for(keyword, page), StoredRowsLoader::kAllRows);
        count_stored_rows(keyword);
        return;
    }
    dialogs_.message(nullptr,
                     QStringLiteral("关键字「") + keyword +
                         QStringLiteral("」正在由其他采集器采集，本次未采集。"),
                     Dialogs::Icon::kInformation, QString(), from_utf8(result.refusal));
}

ResultPage* MainWindow::page_of(int task) const {
    const TaskView* view = session_.task(task);
    return view != nullptr ? qobject_cast<ResultPage*>(view->page.data()) : nullptr;
}

void MainWindow::start_task(int task, const QString& keyword, ResultPage* page) {
    if (session_.task_started(task, keyword, page)) {
        set_status(2, QString());  // the summary of the tasks before
    }
    task_list_->add_task(task, keyword, site_note());
}

void MainWindow::refuse_other_site(const QString& keyword, const SubmitResult& result) {
    dialogs_.message(
        nullptr,
        QStringLiteral("关键字「") + keyword + QStringLiteral("」是按站点配置「") +
            from_utf8(result.stored_site) + QStringLiteral("」采集的，不能按「") +
            from_utf8(session_.engine().site().name()) +
            QStringLiteral("」打开或继续采集。可以先删除它，或换一个数据目录或数据库。"),
        Dialogs::Icon::kInformation, QString(), from_utf8(result.refusal));
}

QString MainWindow::site_note() const {
    if (!session_.opened()) {
        return QString();
    }
    const std::string name = session_.engine().site().name();
    return name == kBuiltInSiteName ? QString() : QStringLiteral("站点：") + from_utf8(name);
}

void MainWindow::load_stored_rows(ResultPage* page, int row_limit) {
    const QString keyword = page->keyword();
    page->load(session_.store(), row_limit, [this, keyword](const QString& reason) {
        dialogs_.message(
            nullptr, QStringLiteral("无法读取关键字「") + keyword + QStringLiteral("」的数据。"),
            Dialogs::Icon::kWarning, QString(), reason);
    });
}

void MainWindow::show_stored_rows(const QString& keyword, long long rows) {
    QString tip = QStringLiteral("已保存 %1 行").arg(rows);
    if (const QString note = site_note(); !note.isEmpty()) {
        tip += '\n' + note;
    }
    for (int tab = 1; tab < tabs_->count(); ++tab) {
        if (result_page(tab)->keyword() == keyword) {
            tabs_->setTabToolTip(tab, tip);
        }
    }
}

void MainWindow::count_stored_rows(const QString& keyword) {
    if (const std::optional<long long> rows = session_.stored_rows(keyword.toStdString())) {
        show_stored_rows(keyword, *rows);
    }
}

void MainWindow::apply_updates(CollectionUpdates&& updates) {
    for (const auto& [task, waiting] : updates.waiting) {
        task_list_->set_waiting(task, waiting);
    }
    for (const auto& row : updates.task_rows) {
        task_list_->set_total(row.task, row.total);
    }
    for (auto& [task, cells] : updates.cells) {
        if (ResultPage* page = page_of(task)) {
            page->model()->apply_cells(cells);
        }
    }
    for (const auto& [task, attempt] : updates.retrying) {
        task_list_->set_retrying(task, attempt);
    }
    for (const auto& [task, done] : updates.done) {
        task_list_->set_done(task, done);
        show_stored_rows(session_.keyword_of(task), done);
    }
    for (const auto& [task, failed] : updates.failed_members) {
        task_list_->set_failed_members(task, failed.count, failed.reason);
    }
    follow_status(updates.status);
    show_storage_failures(updates.failures);
    for (const auto& [task, outcome] : updates.finished) {
        show_task_end(task, outcome);
    }
}

void MainWindow::show_storage_failures(const std::vector<std::pair<int, QString>>& failures) {
    for (const auto& [task, reason] : failures) {
        // Once per task: a table that refuses one row refuses them all.
        if (!session_.first_failure(task)) {
            continue;
        }
        set_status(0, QStringLiteral("状态：数据保存失败"));
        // Said in a banner, on the task's tab while it is open: a database
        // gone away refuses every keyword's rows, and a message box for each
        // would take the keys typed for the next keyword.
        const QString text = QStringLiteral("关键字「") + session_.keyword_of(task) +
                             QStringLiteral("」采集到的数据未能保存到数据库。");
        if (ResultPage* page = page_of(task)) {
            page->warn(text, reason);
        } else {
            show_warning(database_banner_, text, reason);
        }
    }
}

void MainWindow::show_task_end(int task, const TaskOutcome& outcome) {
    task_list_->set_ended(task, outcome);
    if (outcome.table_ready) {
        count_stored_rows(session_.keyword_of(task));
    }
    // A keyword started over whose new search page failed keeps its rows:
    // its list, emptied for the new ones, shows them again.
    ResultPage* page = page_of(task);
    if (!outcome.failure.empty() && outcome.handled == 0 && outcome.table_ready &&
        page != nullptr && page->model()->rowCount() == 0) {
        load_stored_rows(page, StoredRowsLoader::kAllRows);
    }
    if (outcome.failure.empty() && outcome.failed_members > 0 && task == status_task_) {
        // Those members are not stored, so submitting the keyword again
        // collects just them.
        set_status(0, QStringLiteral("状态：") + QString::number(outcome.failed_members) +
                          QStringLiteral("位用户信息采集失败，可再次提交关键字继续采集"));
    }
    if (const std::optional<CollectionSession::Summary> all = session_.task_ended(task, outcome)) {
        set_status(2, summary_text(*all));
        QApplication::alert(this);
    } else if (task == status_task_) {
        show_next_status();
    }
    task_status_.erase(task);
}

// The status line follows one task at a time, so that its count never mixes
// tasks: the task it shows until that one ends, then the next one running.
void MainWindow::follow_status(const std::map<int, QString> (&texts)[2]) {
    for (int part = 0; part < 2; ++part) {
        for (const auto& [task, text] : texts[part]) {
            task_status_[task][part] = text;
            if (status_task_ == 0 || !session_.running(status_task_)) {
                status_task_ = task;
            }
            if (task == status_task_) {
                set_status(part, text);
            }
        }
    }
}

void MainWindow::show_next_status() {
    for (const auto& [task, texts] : task_status_) {
        if (session_.running(task)) {
            status_task_ = task;
            set_status(0, texts[0]);
            set_status(1, texts[1]);
            return;
        }
    }
}

QString MainWindow::summary_text(const CollectionSession::Summary& all) {
    const QString searches = QStringLiteral("%1 个关键字搜索失败").arg(all.failed_searches);
    if (all.failed_searches > 0 && all.stored == 0 && all.failed == 0) {
        return QStringLiteral("全部任务已结束：") + searches;
    }
    QString text = QStringLiteral("全部任务已结束：保存 %1 行，%2 位用户采集失败")
                       .arg(all.stored)
                       .arg(all.failed);
    return all.failed_searches > 0 ? text + QStringLiteral("，") + searches : text;
}

void MainWindow::continue_task(int task) {
    if (!task_list_->incomplete(task)) {
        return;
    }
    // The task's own tab, while it is open, shows the keyword again.
    collect(session_.keyword_of(task), false, page_of(task));
}

// Without a database every keyword is collected and shown, its rows
// exported from the list; a banner over the window, and one over each of
// its result tabs, says that nothing of it is stored.
void MainWindow::prepare_database() {
    if (session_.opened()) {
        return;
    }
    std::string error;
    if (!load_chosen_site(&settings_, &error)) {
        dialogs_.message(this,
                         QStringLiteral("无法使用站点配置 ") + from_utf8(settings_.site_file) +
                             QStringLiteral("，仍按内置站点采集。"),
                         Dialogs::Icon::kWarning, QString(), from_utf8(error));
    }
    const std::string place =
        settings_.database_url.empty() ? settings_.data_dir : settings_.database_url;
    if (!session_.open(place, settings_.hosts, settings_.parallel, settings_.site)) {
        set_status(0, QStringLiteral("状态：数据库无法打开"));
        show_warning(database_banner_,
                     QStringLiteral("无法打开数据库 ") + from_utf8(store_location(place)) +
                         QStringLiteral("。仍可以采集、查看和导出，但采集到的数据不会保存。"),
                     from_utf8(session_.database_error()));
    }
}

void MainWindow::warn_not_stored(int task, const QString& keyword, ResultPage* page) {
    // Its rows are refused one by one; this says it once, before them, on
    // its page: a message box per keyword would swallow the next keyword
    // typed into the search window.
    session_.first_failure(task);
    set_status(0, QStringLiteral("状态：数据库无法打开，数据不会保存"));
    page->warn(QStringLiteral("数据库无法打开，关键字「") + keyword +
                   QStringLiteral("」采集到的数据只显示在结果页中，不会保存。"
                                  "请在关闭程序前导出。"),
               from_utf8(session_.database_error()));
}

}  // namespace qinglan
