#pragma once

// Keeps every report of a collection, for tests to look at afterwards.

#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "engine/collection_observer.h"

namespace qinglan {

class RecordingObserver final : public CollectionObserver {
public:
    struct Status {
        int task, part;
        std::string text;
        bool operator==(const Status&) const = default;
    };
    struct TaskRow {
        int task;
        std::string keyword;
        int total;
        bool operator==(const TaskRow&) const = default;
    };

    void status_changed(int task, int part, const std::string& text) override {
        std::lock_guard lock(mutex_);
        statuses_.push_back({task, part, text});
    }
    void task_row_added(int task, const std::string& keyword, int total) override {
        std::lock_guard lock(mutex_);
        task_rows_.push_back({task, keyword, total});
    }
    void record_cell(int task, int row, int field, const std::string& value) override {
        std::lock_guard lock(mutex_);
        cells_[task].emplace_back(row, field, value);
    }
    void record_collected(int task, int row, const ContactRecord& record) override {
        std::lock_guard lock(mutex_);
        auto& rows = rows_[task];
        if (static_cast<int>(rows.size()) != row) {
            out_of_order_ = true;
        }
        rows.push_back(record);
    }
    void member_done(int task, int done) override {
        std::lock_guard lock(mutex_);
        done_[task].push_back(done);
    }
    void storage_failed(int task, const std::string& message) override {
        std::lock_guard lock(mutex_);
        failures_[task].push_back(message);
    }
    void task_finished(int task, const TaskOutcome& outcome) override {
        std::lock_guard lock(mutex_);
        outcomes_[task] = outcome;
    }

    // Copies taken under the lock; call them once the tasks have ended.
    std::vector<Status> statuses() const { return locked(statuses_); }
    std::vector<TaskRow> task_rows() const { return locked(task_rows_); }
    std::vector<ContactRecord> rows(int task) const { return locked(rows_, task); }
    std::vector<std::tuple<int, int, std::string>> cells(int task) const {
        return locked(cells_, task);
    }
    std::vector<int> done(int task) const { return locked(done_, task); }
    std::vector<std::string> failures(int task) const { return locked(failures_, task); }
    bool finished(int task) const {
        std::lock_guard lock(mutex_);
        return outcomes_.count(task) == 1;
    }
    TaskOutcome outcome(int task) const { return locked(outcomes_, task); }
    bool out_of_order() const {
        std::lock_guard lock(mutex_);
        return out_of_order_;
    }

private:
    template <typename T>
    T locked(const T& value) const {
        std::lock_guard lock(mutex_);
        return value;
    }
    template <typename Map>
    typename Map::mapped_type locked(const Map& map, int task) const {
        std::lock_guard lock(mutex_);
        const auto found = map.find(task);
        return found == map.end() ? typename Map::mapped_type() : found->second;
    }

    mutable std::mutex mutex_;
    std::vector<Status> statuses_;
    std::vector<TaskRow> task_rows_;
    std::map<int, std::vector<std::tuple<int, int, std::string>>> cells_;
    std::map<int, std::vector<ContactRecord>> rows_;
    std::map<int, std::vector<int>> done_;
    std::map<int, std::vector<std::string>> failures_;
    std::map<int, TaskOutcome> outcomes_;
    bool out_of_order_ = false;
};

}  // namespace qinglan
