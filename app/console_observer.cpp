#include "app/console_observer.h"

#include <algorithm>
#include <vector>

namespace qinglan {

std::string task_summary(const std::string& keyword, const TaskOutcome& outcome,
                         const std::string& first_failure) {
    // Escaped once, as a whole, like the other lines of the command: the
    // keyword and whatever a page or a server said.
    std::string line = keyword + ": ";
    if (!outcome.failure.empty()) {
        return escape_controls(line + "failed: " + outcome.failure);
    }
    if (outcome.completed && outcome.members == 0) {
        return escape_controls(line + "0 members: the search page held no member accounts (" +
                               outcome.empty_page + ")");
    }
    line += (outcome.completed ? "collected " : "stopped after ") +
            std::to_string(outcome.stored_before + outcome.handled) + " of " +
            std::to_string(outcome.members) + " members, " +
            std::to_string(outcome.stored_before + outcome.stored) + " rows stored";
    if (outcome.stored_before > 0) {
        line += " (" + std::to_string(outcome.stored_before) + " by an earlier run)";
    }
    if (outcome.failed_members > 0) {
        line += ", " + std::to_string(outcome.failed_members) +
                " members failed: " + outcome.member_failure;
    }
    if (outcome.failed_inserts > 0 || !outcome.table_ready) {
        line +=
            ", " + std::to_string(outcome.failed_inserts) + " rows not stored: " + first_failure;
    }
    return escape_controls(line);
}

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
    std::fprintf(out_, "[%s] %s\n", escape_controls(tasks_[task].keyword).c_str(),
                 escape_controls(text).c_str());
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
        const int handled = task.done + task.failed;
        const int filled = total > 0 ? handled * kWidth / total : (total == 0 ? kWidth : 0);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(kWidth, '.');
        const char* state = task.waiting                    ? "  queued"
                            : !task.finished                ? ""
                            : !task.outcome.failure.empty() ? "  failed"
                            : task.outcome.completed        ? "  done"
                                                            : "  stopped";
        std::fprintf(
            out_, "  %s [%s] %d/%s%s%s\n", terminal_label(task.keyword, 20).c_str(), bar.c_str(),
            task.done, total < 0 ? "?" : std::to_string(total).c_str(),
            task.failed > 0 ? (" (" + std::to_string(task.failed) + " failed)").c_str() : "",
            state);
        ++live_lines_;
    }
    std::fflush(out_);
}

void ConsoleObserver::status_changed(int task, int /*part*/, const std::string& text) {
    std::lock_guard lock(mutex_);
    line(task, text);
}

void ConsoleObserver::task_waiting(int task, bool waiting) {
    std::lock_guard lock(mutex_);
    tasks_[task].waiting = waiting;
    if (live_) {
        redraw();
    }
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
        std::fprintf(out_, "[%s] 完成数量 %d/%d\n", escape_controls(progress.keyword).c_str(), done,
                     progress.total);
        std::fflush(out_);
    }
}

void ConsoleObserver::member_failed(int task, int failed, const std::string& reason) {
    std::lock_guard lock(mutex_);
    tasks_[task].failed = failed;
    line(task, "失败数量 " + std::to_string(failed) + ": " + reason);
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
