#include "app/console_observer.h"

namespace qinglan {

ConsoleObserver::ConsoleObserver(std::FILE* out, bool live) : out_(out), live_(live) {}

void ConsoleObserver::name_task(int task, const std::string& keyword) {
    std::lock_guard lock(mutex_);
    tasks_[task].keyword = keyword;
}

void ConsoleObserver::forget_task(int task) {
    std::lock_guard lock(mutex_);
    tasks_.erase(task);
}

void ConsoleObserver::line(int task, const std::string& text) {
    if (live_ && live_lines_ > 0) {
        // Move up over the progress block and write the log line in its place.
        std::fprintf(out_, "\x1b[%dA\r\x1b[J", live_lines_);
        live_lines_ = 0;
    }
    std::fprintf(out_, "[%s] %s\n", tasks_[task].keyword.c_str(), text.c_str());
    if (live_) {
        redraw();
    }
    std::fflush(out_);
}

void ConsoleObserver::redraw() {
    if (live_lines_ > 0) {
        std::fprintf(out_, "\x1b[%dA\r\x1b[J", live_lines_);
    }
    live_lines_ = 0;
    for (const auto& [number, task] : tasks_) {
        constexpr int kWidth = 30;
        const int total = task.total;
        const int filled = total > 0 ? task.done * kWidth / total : (total == 0 ? kWidth : 0);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(kWidth, '.');
        std::fprintf(out_, "  %-20s [%s] %d/%s%s\n", task.keyword.c_str(), bar.c_str(), task.done,
                     total < 0 ? "?" : std::to_string(total).c_str(),
                     task.finished ? (task.outcome.completed ? "  done" : "  stopped") : "");
        ++live_lines_;
    }
    std::fflush(out_);
}

void ConsoleObserver::status_changed(int task, int /*part*/, const std::string& text) {
    std::lock_guard lock(mutex_);
    line(task, text);
}

void ConsoleObserver::task_row_added(int task, const std::string& keyword, int total) {
    std::lock_guard lock(mutex_);
    tasks_[task].keyword = keyword;
    tasks_[task].total = total;
    line(task, "任务总量 " + std::to_string(total));
}

void ConsoleObserver::member_done(int task, int done) {
    std::lock_guard lock(mutex_);
    Progress& progress = tasks_[task];
    progress.done = done;
    if (live_) {
        redraw();
    } else {
        std::fprintf(out_, "[%s] 完成数量 %d/%d\n", progress.keyword.c_str(), done, progress.total);
        std::fflush(out_);
    }
}

void ConsoleObserver::storage_failed(int task, const std::string& message) {
    std::lock_guard lock(mutex_);
    Progress& progress = tasks_[task];
    // A table that cannot be written refuses every row: say it once.
    if (progress.failure.empty()) {
        progress.failure = message;
        line(task, "error: " + message);
    }
}

void ConsoleObserver::task_finished(int task, const TaskOutcome& outcome) {
    std::lock_guard lock(mutex_);
    Progress& progress = tasks_[task];
    progress.finished = true;
    progress.outcome = outcome;
    if (live_) {
        redraw();
    }
}

std::string ConsoleObserver::first_failure(int task) const {
    std::lock_guard lock(mutex_);
    const auto found = tasks_.find(task);
    return found == tasks_.end() ? std::string() : found->second.failure;
}

const TaskOutcome* ConsoleObserver::outcome(int task) const {
    std::lock_guard lock(mutex_);
    const auto found = tasks_.find(task);
    return found == tasks_.end() || !found->second.finished ? nullptr : &found->second.outcome;
}

}  // namespace qinglan
