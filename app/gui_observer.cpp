#include "app/gui_observer.h"

#include "app/qt_text.h"

namespace qinglan {

GuiObserver::GuiObserver(QObject* context, Apply apply)
    : answers_(context), apply_(std::move(apply)) {}

void GuiObserver::schedule() {
    if (scheduled_) {
        return;
    }
    scheduled_ = true;
    answers_.post([this] { flush(); });
}

void GuiObserver::flush() {
    CollectionUpdates updates;
    {
        std::lock_guard lock(mutex_);
        updates = std::move(pending_);
        pending_ = CollectionUpdates();
        scheduled_ = false;
    }
    apply_(std::move(updates));
}

void GuiObserver::status_changed(int task, int part, const std::string& text) {
    std::lock_guard lock(mutex_);
    pending_.status[part == 0 ? 0 : 1][task] = from_utf8(text);
    schedule();
}

void GuiObserver::task_row_added(int task, const std::string& keyword, int total) {
    std::lock_guard lock(mutex_);
    pending_.task_rows.push_back({task, from_utf8(keyword), total});
    schedule();
}

void GuiObserver::record_cell(int task, int row, int field, const std::string& value) {
    std::lock_guard lock(mutex_);
    pending_.cells[task].push_back({row, field, value});
    schedule();
}

void GuiObserver::member_done(int task, int done) {
    std::lock_guard lock(mutex_);
    pending_.done[task] = done;
    schedule();
}

void GuiObserver::member_failed(int task, int failed, const std::string& reason) {
    std::lock_guard lock(mutex_);
    pending_.failed_members[task] = {failed, from_utf8(reason)};
    schedule();
}

void GuiObserver::task_waiting(int task, bool waiting) {
    std::lock_guard lock(mutex_);
    pending_.waiting[task] = waiting;
    schedule();
}

void GuiObserver::task_retrying(int task, int attempt) {
    std::lock_guard lock(mutex_);
    pending_.retrying[task] = attempt;
    schedule();
}

void GuiObserver::storage_failed(int task, const std::string& message) {
    std::lock_guard lock(mutex_);
    pending_.failures.emplace_back(task, from_utf8(message));
    schedule();
}

void GuiObserver::task_finished(int task, const TaskOutcome& outcome) {
    std::lock_guard lock(mutex_);
    pending_.finished.emplace_back(task, outcome);
    schedule();
}

}  // namespace qinglan
