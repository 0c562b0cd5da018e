// `qinglan work`: a worker that drains the team's queue. It takes waiting
// keywords, at most --tasks at a time, and collects each as `collect` does
// (the same engine, store, claims and terminal output) under the profile
// the keyword was queued with. While a keyword is collected its lease is
// renewed a few times per lease; a worker that finds it taken over stops
// its task, and its store refuses the task's rows by the claim's number.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>

#include "app/cli_queue.h"
#include "app/console_observer.h"
#include "engine/collection_engine.h"
#include "engine/site/profile_site.h"
#include "storage/postgres_queue.h"
#include "storage/store_factory.h"

namespace qinglan {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::atomic<bool> stop_requested{false};
std::atomic<CollectionEngine*> stopping_engine{nullptr};

// Ctrl-C or a TERM signal ends the transfers; the keywords being collected
// go back to waiting for another worker, with no try counted.
extern "C" void on_stop(int) {
    stop_requested = true;
    if (CollectionEngine* engine = stopping_engine.load()) {
        engine->request_stop();
    }
}

// Host name and process id: which worker holds a keyword, for people.
std::string worker_name() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return std::string(host) + ":" + std::to_string(getpid());
}

bool print_line(const std::string& line) {
    return std::fputs((line + "\n").c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
}

class Worker {
public:
    Worker(const Options& options, RecordStore& store, WorkQueue& queue)
        : options_(options),
          store_(store),
          queue_(queue),
          name_(worker_name()),
          observer_(stderr, isatty(STDERR_FILENO) == 1),
          engine_(store, options.hosts, observer_, options.parallel) {}

    CollectionEngine& engine() { return engine_; }
    int run();

private:
    struct Held {
        std::string keyword;
        int task = 0;
        bool lost = false;  // taken over by another worker since
    };

    bool take_one(bool* took);
    void start(const QueueEntry& entry);
    std::shared_ptr<const Site> site_for(const QueueEntry& entry, std::string* error);
    TryResult try_result(const std::string& keyword, const TaskOutcome& outcome, int task);
    void end_try(const std::string& keyword, const TryResult& result, const std::string& said);
    // Ends the tries of the tasks that finished; whether any did.
    bool settle_finished();
    void renew_leases();
    void give_back_all();
    void server_failed(const std::string& error);

    const Options& options_;
    RecordStore& store_;
    WorkQueue& queue_;
    const std::string name_;
    ConsoleObserver observer_;
    CollectionEngine engine_;
    std::vector<Held> held_;
    std::map<std::pair<std::string, std::string>, std::shared_ptr<const Site>> sites_;
    bool failed_ = false;         // a keyword this worker tried ended failed
    bool server_failed_ = false;  // the queue could not be read or written
};

void Worker::server_failed(const std::string& error) {
    std::fprintf(stderr, "qinglan: the work queue: %s\n", escape_controls(error).c_str());
    server_failed_ = true;
}

// Polls the queue at most once a second while idle; the tasks' ends are
// looked at more often, so that a slot is filled again at once.
int Worker::run() {
    const auto renew_every = std::chrono::milliseconds(options_.lease * 1000 / 3);
    Clock::time_point next_take = Clock::now();
    Clock::time_point next_renew = Clock::now() + renew_every;
    while (!stop_requested && !server_failed_) {
        if (settle_finished()) {
            next_take = Clock::now();  // a slot is free: no idle poll
        }
        if (Clock::now() >= next_renew) {
            renew_leases();
            next_renew = Clock::now() + renew_every;
        }
        if (held_.size() < static_cast<std::size_t>(options_.tasks) && Clock::now() >= next_take) {
            bool took = false;
            if (!take_one(&took)) {
                break;
            }
            if (took) {
                continue;
            }
            next_take = Clock::now() + 1s;
            bool busy = true;
            std::string error;
            if (options_.until_empty && held_.empty() && !queue_.busy(&busy, &error)) {
                server_failed(error);
            } else if (options_.until_empty && held_.empty() && !busy) {
                break;
            }
        }
        std::this_thread::sleep_for(50ms);
    }
    if (!held_.empty()) {
        engine_.request_stop();
        engine_.wait_all();
        give_back_all();
    }
    return failed_ || server_failed_ ? 1 : 0;
}

bool Worker::take_one(bool* took) {
    QueueEntry entry;
    std::string error;
    if (!queue_.take(name_, options_.lease, &entry, &error)) {
        server_failed(error);
        return false;
    }
    *took = !entry.keyword.empty();
    if (*took) {
        start(entry);
    }
    return true;
}

std::shared_ptr<const Site> Worker::site_for(const QueueEntry& entry, std::string* error) {
    if (entry.profile_text.empty()) {
        return built_in_site();
    }
    std::shared_ptr<const Site>& site = sites_[{entry.profile, entry.profile_text}];
    if (!site) {
        site = profile_site_from_text(entry.profile_text, entry.profile, error);
    }
    return site;
}

void Worker::start(const QueueEntry& entry) {
    const std::string& keyword = entry.keyword;
    std::string error;
    if (stop_requested) {
        queue_.give_back(name_, keyword, nullptr);
        return;
    }
    const std::shared_ptr<const Site> site = site_for(entry, &error);
    if (!site) {
        const std::string why = "its site profile does not load: " + error;
        end_try(keyword, {.reason = why}, escape_controls(keyword + ": not collected: " + why));
        return;
    }
    // A keyword taken over from a worker whose session lingers: that
    // session must let go of the claim before this one can take it.
    if (!entry.previous_worker.empty() && !queue_.free_claim(keyword, &error)) {
        const std::string why = "its claim cannot be freed: " + error;
        end_try(keyword, {.reason = why}, escape_controls(keyword + ": not collected: " + why));
        return;
    }
    engine_.set_market(options_.hosts, options_.parallel, site);
    engine_.read_table_names(nullptr);  // tables other workers made since
    const int next_task = engine_.task_count() + 1;
    observer_.name_task(next_task, keyword);
    const SubmitResult result = engine_.submit_keyword(keyword, false, MissingTable::kRefuse);
    if (result.task != next_task) {
        observer_.forget_task(next_task);
    }
    if (result.kind == SubmitResult::kStarted || result.kind == SubmitResult::kResumed) {
        held_.push_back({keyword, result.task});
    } else if (result.kind == SubmitResult::kReopened) {
        TaskOutcome whole;
        whole.completed = true;
        end_try(keyword, try_result(keyword, whole, 0),
                escape_controls(keyword) + ": already stored complete");
    } else {
        const std::string why = result.refusal.empty() ? result.table_error : result.refusal;
        end_try(keyword, {.reason = why}, escape_controls(keyword + ": not collected: " + why));
    }
}

// Done only when the stored state says every member is stored.
TryResult Worker::try_result(const std::string& keyword, const TaskOutcome& outcome, int task) {
    TryResult result;
    CollectionState state;
    std::string error;
    if (!store_.read_state(keyword, &state, &error) ||
        !store_.count_rows(keyword, &result.rows, &error)) {
        result.reason = error;
        return result;
    }
    result.members = state.listed ? static_cast<int>(state.members.size()) : -1;
    result.complete = outcome.completed && state.tracked && state.complete();
    if (!result.complete) {
        const std::string summary =
            task_summary(keyword, outcome, task > 0 ? observer_.first_failure(task) : "");
        result.reason = summary.substr(std::min(summary.size(), summary.find(": ") + 2));
    }
    return result;
}

// `said`, the try's line for stdout, comes escaped.
void Worker::end_try(const std::string& keyword, const TryResult& result, const std::string& said) {
    std::string state, error;
    if (!queue_.finish(name_, keyword, result, &state, &error)) {
        server_failed(error);
        return;
    }
    failed_ = failed_ || state == "failed";
    const std::string after = state == "done"      ? ""
                              : state == "waiting" ? " (to be tried again)"
                              : state == "failed"  ? " (failed: its tries are spent)"
                                                   : " (taken over by another worker meanwhile)";
    print_line(said + after);
}

bool Worker::settle_finished() {
    bool settled = false;
    for (auto it = held_.begin(); it != held_.end() && !stop_requested;) {
        const TaskOutcome* outcome = observer_.outcome(it->task);
        if (outcome == nullptr) {
            ++it;
            continue;
        }
        if (it->lost) {
            print_line(escape_controls(it->keyword) + ": taken over by another worker");
        } else {
            const std::string said =
                task_summary(it->keyword, *outcome, observer_.first_failure(it->task));
            end_try(it->keyword, try_result(it->keyword, *outcome, it->task), said);
        }
        it = held_.erase(it);
        settled = true;
    }
    return settled;
}

void Worker::renew_leases() {
    for (Held& held : held_) {
        bool still = true;
        std::string error;
        if (held.lost) {
            continue;
        }
        if (!queue_.renew(name_, held.keyword, options_.lease, &still, &error)) {
            std::fprintf(stderr, "qinglan: the lease of '%s' cannot be renewed: %s\n",
                         escape_controls(held.keyword).c_str(), escape_controls(error).c_str());
        } else if (!still) {
            held.lost = true;
            engine_.stop_task(held.task);
        }
    }
}

void Worker::give_back_all() {
    for (const Held& held : held_) {
        std::string error;
        if (!held.lost && !queue_.give_back(name_, held.keyword, &error)) {
            server_failed(error);
        }
    }
    held_.clear();
}

}  // namespace

int run_work(const Options& options) {
    if (!queue_on_server(options, "work")) {
        return 2;
    }
    if (!options.arguments.empty()) {
        std::fprintf(stderr, "qinglan: work takes no keywords: they come from the queue\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::string error;
    if (!apply_network_settings(options, &error)) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 2;
    }
    std::unique_ptr<RecordStore> store = open_record_store(options.database_url, &error);
    if (!store) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 1;
    }
    WorkQueue queue(options.database_url);
    Worker worker(options, *store, queue);
    stopping_engine = &worker.engine();
    std::signal(SIGINT, on_stop);
    std::signal(SIGTERM, on_stop);
    const int status = worker.run();
    stopping_engine = nullptr;
    return status;
}

}  // namespace qinglan
