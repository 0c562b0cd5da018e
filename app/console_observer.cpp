#include "app/console_observer.h"

#include <algorithm>
#include <vector>

#include "services/utf8.h"

namespace qinglan {
namespace {

// Terminal columns of a character: 0 for a control character, 2 for the
// East Asian wide and fullwidth blocks and the emoji, 1 otherwise.
int columns_of(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
        return 0;
    }
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

}  // namespace

std::string terminal_label(std::string_view text, int columns) {
    struct Glyph {
        std::string_view shown;
        int columns;
    };
    std::vector<Glyph> glyphs;
    int total = 0;
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        const std::size_t length = decode_utf8(text, at, &c);
        const bool printable = c != kIllFormedUtf8 && columns_of(c) > 0;
        // A control character shows as one "?", a broken sequence as one per byte.
        glyphs.push_back(printable ? Glyph{text.substr(at, length), columns_of(c)} : Glyph{"?", 1});
        at += c == kIllFormedUtf8 ? 1 : length;
        total += glyphs.back().columns;
        if (total > columns) {
            break;  // too long already: the rest is cut anyway
        }
    }
    static constexpr std::string_view kCut = "...";
    const bool cut = total > columns;
    const int room = cut ? columns - static_cast<int>(kCut.size()) : columns;
    std::string label;
    int used = 0;
    for (const Glyph& glyph : glyphs) {
        if (used + glyph.columns > room) {
            break;
        }
        label.append(glyph.shown);
        used += glyph.columns;
    }
    if (cut && room >= 0) {
        label.append(kCut);
        used += static_cast<int>(kCut.size());
    }
    label.append(static_cast<std::size_t>(std::max(columns - used, 0)), ' ');
    return label;
}

bool print_task_summary(const std::string& keyword, const TaskOutcome& outcome,
                        const std::string& first_failure) {
    std::printf("%s: %s %d of %d members, %d rows stored", keyword.c_str(),
                outcome.completed ? "collected" : "stopped after", outcome.handled, outcome.members,
                outcome.stored);
    if (outcome.failed_inserts > 0 || !outcome.table_ready) {
        std::printf(", %d rows not stored: %s", outcome.failed_inserts, first_failure.c_str());
    }
    std::printf("\n");
    return outcome.completed && outcome.failed_inserts == 0 && outcome.table_ready;
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
        std::fprintf(out_, "  %s [%s] %d/%s%s\n", terminal_label(task.keyword, 20).c_str(),
                     bar.c_str(), task.done, total < 0 ? "?" : std::to_string(total).c_str(),
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
