#include "engine/collection_engine.h"

#include <algorithm>

#include "engine/member_card_parser.h"
#include "services/charset.h"
#include "services/environment.h"

namespace qinglan {

CollectionEngine::CollectionEngine(RecordStore& store, MarketHosts hosts,
                                   CollectionObserver& observer)
    : store_(store),
      hosts_(std::move(hosts)),
      observer_(observer),
      mobile_prefixes_(load_mobile_prefixes()) {}

CollectionEngine::~CollectionEngine() {
    stop();
}

bool CollectionEngine::read_table_names(std::string* error) {
    std::vector<std::string> names;
    if (!store_.read_table_names(&names, error)) {
        table_names_.clear();
        return false;
    }
    table_names_ = std::move(names);
    return true;
}

SubmitResult CollectionEngine::submit_keyword(const std::string& keyword, bool again) {
    keywords_.push_back(keyword);
    SubmitResult result;
    if (stopping_) {
        result.kind = SubmitResult::kRefused;
        result.refusal = "the collection is stopping";
        return result;
    }
    auto task = std::make_unique<Task>();
    task->keyword = keyword;
    task->again = again;
    // A store that cannot say leaves the keyword to the table list.
    if (!store_.read_state(keyword, &task->resumed, nullptr)) {
        task->resumed = CollectionState();
    }
    const bool listed_table =
        std::find(table_names_.begin(), table_names_.end(), keyword) != table_names_.end();
    if (!again && (task->resumed.tracked ? task->resumed.complete() : listed_table)) {
        result.kind = SubmitResult::kReopened;
        return result;
    }
    if (!store_.claim(keyword, &result.refusal)) {
        result.kind = SubmitResult::kRefused;
        return result;
    }
    if (again || !task->resumed.tracked) {
        task->resumed = CollectionState();
        result.table_ready = store_.ensure_table(keyword, &result.table_error);
    } else {
        result.kind = SubmitResult::kResumed;
        long long rows = 0;
        store_.count_rows(keyword, &rows, nullptr);
        result.stored_rows = static_cast<int>(rows);
        task->rows = result.stored_rows;
    }
    task->table_error = result.table_error;
    task->outcome.table_ready = result.table_ready;
    return start_task(std::move(task), result);
}

SubmitResult CollectionEngine::start_task(std::unique_ptr<Task> task, SubmitResult result) {
    task->keyword_gbk = utf8_to_gbk(task->keyword);
    Task& started = *task;
    {
        std::lock_guard lock(tasks_mutex_);
        task->number = static_cast<int>(tasks_.size()) + 1;
        tasks_.push_back(std::move(task));
        if (!start_thread([this, &started] { search_worker(started); }, &started.search_thread)) {
            // Without a worker the task ends at once, as if stopped.
            finish(started);
        }
    }
    result.task = started.number;
    return result;
}

void CollectionEngine::search_worker(Task& task) {
    run_search_step(task);
    if (stopping_ || !task.outcome.failure.empty()) {
        finish(task);
        return;
    }
    // The member worker's handle is written before this thread ends, so
    // whoever joins this thread may then join that one.
    if (!start_thread([this, &task] { member_worker(task); }, &task.member_thread)) {
        finish(task);
    }
}

void CollectionEngine::member_worker(Task& task) {
    run_member_step(task);
    finish(task);
}

void CollectionEngine::finish(Task& task) {
    store_.release(task.keyword);
    observer_.task_finished(task.number, task.outcome);
}

void CollectionEngine::wait_all() {
    for (std::size_t i = 0;; ++i) {
        Task* task = nullptr;
        {
            std::lock_guard lock(tasks_mutex_);
            if (i >= tasks_.size()) {
                return;
            }
            task = tasks_[i].get();
        }
        if (task->search_thread.joinable()) {
            task->search_thread.join();
        }
        if (task->member_thread.joinable()) {
            task->member_thread.join();
        }
    }
}

void CollectionEngine::stop() {
    {
        std::lock_guard lock(tasks_mutex_);
        stopping_ = true;
    }
    wait_all();
}

int CollectionEngine::task_count() const {
    std::lock_guard lock(tasks_mutex_);
    return static_cast<int>(tasks_.size());
}

}  // namespace qinglan
