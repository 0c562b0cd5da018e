#include "app/collection_session.h"

#include "storage/store_factory.h"
#include "storage/unavailable_store.h"

namespace qinglan {

CollectionSession::CollectionSession(QObject* window, GuiObserver::Apply apply)
    : observer_(window, std::move(apply)) {}

bool CollectionSession::open(const std::string& place, MarketHosts hosts, int parallel,
                             std::shared_ptr<const Site> site) {
    std::string error;
    if (std::unique_ptr<RecordStore> store = open_record_store(place, &error)) {
        store_ = std::move(store);
        database_open_ = true;
    } else {
        // Stands as a database that fails with this reason wherever it is used.
        store_ = std::make_unique<UnavailableStore>(error);
        database_error_ = error;
    }
    engine_ = std::make_unique<CollectionEngine>(*store_, std::move(hosts), observer_, parallel,
                                                 std::move(site));
    return database_open_;
}

SubmitResult CollectionSession::submit(const std::string& keyword, bool again) {
    return engine_->submit_keyword(keyword, again,
                                   database_open_ ? MissingTable::kRefuse : MissingTable::kCollect);
}

bool CollectionSession::task_started(int task, const QString& keyword, QObject* page) {
    const bool first = running_ == 0;
    TaskView& view = tasks_[task];
    view.keyword = keyword;
    view.page = page;
    if (!view.running) {
        view.running = true;
        ++running_;
    }
    return first;
}

std::optional<CollectionSession::Summary> CollectionSession::task_ended(
    int task, const TaskOutcome& outcome) {
    ended_.stored += outcome.stored;
    ended_.failed += outcome.failed_members;
    if (!outcome.failure.empty() && !outcome.stopped) {
        ++ended_.failed_searches;
    }
    const auto view = tasks_.find(task);
    if (view == tasks_.end() || !view->second.running) {
        return std::nullopt;
    }
    view->second.running = false;
    if (--running_ > 0) {
        return std::nullopt;
    }
    const Summary summary = ended_;
    ended_ = Summary();
    return summary;
}

bool CollectionSession::first_failure(int task) {
    bool& shown = tasks_[task].failure_shown;
    const bool first = !shown;
    shown = true;
    return first;
}

const TaskView* CollectionSession::task(int number) const {
    const auto view = tasks_.find(number);
    return view != tasks_.end() ? &view->second : nullptr;
}

bool CollectionSession::running(int task) const {
    const TaskView* view = this->task(task);
    return view != nullptr && view->running;
}

QString CollectionSession::keyword_of(int task) const {
    const TaskView* view = this->task(task);
    return view != nullptr ? view->keyword : QString();
}

void CollectionSession::stop_task(int task) {
    if (engine_) {
        engine_->stop_task(task);
    }
}

void CollectionSession::stop() {
    if (engine_) {
        engine_->stop();
    }
    observer_.flush();
}

std::optional<long long> CollectionSession::stored_rows(const std::string& keyword) {
    long long rows = 0;
    if (!store_->count_rows(keyword, &rows, nullptr)) {
        return std::nullopt;
    }
    return rows;
}

bool CollectionSession::forget(const std::string& keyword, bool* busy, std::string* error) {
    // A keyword being collected, here or by another collector, stays.
    *busy = !store_->claim(keyword, error);
    if (*busy) {
        return false;
    }
    const bool forgotten = store_->forget({keyword}, error);
    store_->release(keyword);
    if (forgotten) {
        engine_->read_table_names(nullptr);
    }
    return forgotten;
}

}  // namespace qinglan
