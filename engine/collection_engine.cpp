#include "engine/collection_engine.h"

#include <algorithm>

#include "engine/collection_task.h"
#include "services/transfer_loop.h"

#include "services/environment.h"

namespace qinglan {

namespace {

// Steps are short, and storing waits on one database: a few threads serve
// any number of tasks.
constexpr int kStepThreads = 3;

}  // namespace

CollectionEngine::CollectionEngine(RecordStore& store, MarketHosts hosts,
                                   CollectionObserver& observer, int parallel,
                                   std::shared_ptr<const Site> site)
    : store_(store),
      hosts_(std::move(hosts)),
      observer_(observer),
      site_(site ? std::move(site) : built_in_site()),
      parallel_(std::max(parallel, 1)),
      pool_(kStepThreads) {}

void CollectionEngine::set_market(MarketHosts hosts, int parallel,
                                  std::shared_ptr<const Site> site) {
    hosts_ = std::move(hosts);
    parallel_ = std::max(parallel, 1);
    site_ = site ? std::move(site) : built_in_site();
}

bool CollectionEngine::searchable(const std::string& keyword, std::string* refusal) const {
    Text address;
    return site_->search_address(hosts_, keyword, 1, &address, refusal);
}

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

SubmitResult CollectionEngine::submit_keyword(const std::string& keyword, bool again,
                                              MissingTable missing_table) {
    keywords_.push_back(keyword);
    SubmitResult result;
    if (stopping_) {
        result.kind = SubmitResult::kRefused;
        result.refusal = "the collection is stopping";
        return result;
    }
    auto task = std::make_unique<Task>(pool_);
    // Refused before anything is read or asked for: no other text may be
    // searched in its place.
    Text address;
    if (!site_->search_address(hosts_, keyword, 1, &address, &result.refusal)) {
        result.kind = SubmitResult::kRefused;
        return result;
    }
    task->keyword = keyword;
    task->again = again;
    task->hosts = hosts_;
    task->site = site_;
    task->parallel = parallel_;
    task->page_saver = page_saver_;
    // A store that cannot say leaves the keyword to the table list.
    if (!store_.read_state(keyword, &task->resumed, nullptr)) {
        task->resumed = CollectionState();
    }
    const bool listed_table =
        std::find(table_names_.begin(), table_names_.end(), keyword) != table_names_.end();
    if ((task->resumed.tracked || listed_table) && task->resumed.site != site_->name()) {
        result.kind = SubmitResult::kRefused;
        result.stored_site = task->resumed.site;
        result.refusal = "it was collected from the site \"" + task->resumed.site +
                         "\", not from \"" + site_->name() +
                         "\": forget it, or use another data folder or database";
        return result;
    }
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
        result.table_ready = store_.ensure_table(keyword, site_->name(), &result.table_error);
        if (!result.table_ready && missing_table == MissingTable::kRefuse) {
            store_.release(keyword);
            result.kind = SubmitResult::kRefused;
            result.refusal = result.table_error;
            return result;
        }
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
    Task& started = *task;
    {
        std::lock_guard lock(tasks_mutex_);
        task->number = static_cast<int>(tasks_.size()) + 1;
        tasks_.push_back(std::move(task));
        ++running_tasks_;
    }
    result.task = started.number;
    post(started, [this, &started] { begin(started); });
    return result;
}

void CollectionEngine::post(Task& task, std::function<void()> step) {
    task.strand.post(std::move(step));
}

// A request for a page whose `then` runs as a step of the task; counted
// as one of the task's transfers from now on.
TransferLoop::Request CollectionEngine::page_request(Task& task, const Text& url,
                                                     std::function<void(Bytes, FetchInfo)> then) {
    ++task.transfers;
    TransferLoop::Request request;
    request.url = url;
    request.cancel = {&stopping_, &task.stop_requested};
    if (!task.announced) {
        request.started = [this, &task] {
            post(task, [this, &task] {
                if (!task.announced) {
                    task.announced = true;
                    observer_.task_waiting(task.number, false);
                }
            });
        };
    }
    request.retrying = [this, &task](int attempt) {
        post(task, [this, &task, attempt] { observer_.task_retrying(task.number, attempt); });
    };
    request.done = [this, &task, then = std::move(then)](Bytes body, FetchInfo info) mutable {
        post(task, [&task, then = std::move(then), body = std::move(body),
                    info = std::move(info)]() mutable {
            --task.transfers;
            then(std::move(body), std::move(info));
        });
    };
    return request;
}

bool CollectionEngine::stopped(const Task& task) const {
    return stopping_.load() || task.stop_requested.load();
}

void CollectionEngine::finish(Task& task) {
    // Rows still on their way to the store are answered before the task
    // counts them and gives up its claim on the keyword.
    std::vector<QueuedRow> settled;
    store_.settle_rows(task.keyword, &settled);
    take_stored(task, settled);
    task.outcome.stopped = stopped(task) && !task.claim_lost;
    store_.release(task.keyword);
    observer_.task_finished(task.number, task.outcome);
    std::lock_guard lock(tasks_mutex_);
    --running_tasks_;
    task_ended_.notify_all();
}

void CollectionEngine::wait_all() {
    std::unique_lock lock(tasks_mutex_);
    task_ended_.wait(lock, [this] { return running_tasks_ == 0; });
}

void CollectionEngine::stop() {
    bool running = false;
    {
        std::lock_guard lock(tasks_mutex_);
        running = running_tasks_ > 0;
        stopping_ = true;
    }
    // The store is told to give up its waits only when a task may be in
    // one: it serves others after this engine.
    if (running) {
        request_stop();
        TransferLoop::shared().wake();
    }
    wait_all();
}

bool CollectionEngine::stop_task(int number) {
    Task* task = nullptr;
    {
        std::lock_guard lock(tasks_mutex_);
        if (number < 1 || number > static_cast<int>(tasks_.size())) {
            return false;
        }
        task = tasks_[static_cast<std::size_t>(number) - 1].get();
    }
    task->stop_requested = true;
    TransferLoop::shared().wake();
    return true;
}

int CollectionEngine::task_count() const {
    std::lock_guard lock(tasks_mutex_);
    return static_cast<int>(tasks_.size());
}

}  // namespace qinglan
