#include "app/cli_commands.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "app/console_observer.h"
#include "engine/collection_engine.h"
#include "services/fetch.h"
#include "storage/sqlite_store.h"

namespace qinglan {
namespace {

std::atomic<CollectionEngine*> interrupted_engine{nullptr};

// Ctrl-C ends the transfers; the rows stored so far stay.
extern "C" void on_interrupt(int) {
    if (CollectionEngine* engine = interrupted_engine.load()) {
        engine->request_stop();
    }
}

std::unique_ptr<SqliteStore> open_store(const Options& options) {
    std::string error;
    auto store = SqliteStore::open(options.data_dir, &error);
    if (!store) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
    }
    return store;
}

}  // namespace

int run_collect(const Options& options) {
    if (options.arguments.empty()) {
        std::fprintf(stderr, "qinglan: collect needs at least one keyword\n%s", kUsage);
        return 2;
    }
    auto store = open_store(options);
    if (!store) {
        return 1;
    }
    set_fetch_timeouts({fetch_timeouts().connect_seconds, options.stall_timeout});

    ConsoleObserver observer(stderr, isatty(STDERR_FILENO) == 1);
    CollectionEngine engine(*store, options.hosts, observer);
    std::string error;
    if (!engine.read_table_names(&error)) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 1;
    }

    interrupted_engine = &engine;
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);

    struct Submitted {
        std::string keyword;
        SubmitResult result;
    };
    std::vector<Submitted> submitted;
    for (const std::string& keyword : options.arguments) {
        // The task's keyword is known to the terminal before its workers report.
        const int next_task = engine.task_count() + 1;
        observer.name_task(next_task, keyword);
        submitted.push_back({keyword, engine.submit_keyword(keyword)});
        const SubmitResult& result = submitted.back().result;
        if (result.task != next_task) {
            observer.forget_task(next_task);
        } else if (!result.table_ready) {
            // Said at once, before the task's rows are refused one by one.
            observer.storage_failed(result.task, result.table_error);
        }
    }
    engine.wait_all();
    interrupted_engine = nullptr;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    bool all_good = true;
    for (const auto& [keyword, result] : submitted) {
        if (result.kind == SubmitResult::kReopened) {
            long long rows = 0;
            store->count_rows(keyword, &rows, nullptr);
            std::printf("%s: already stored with %lld rows, not collected again\n", keyword.c_str(),
                        rows);
            continue;
        }
        const TaskOutcome* outcome = result.task > 0 ? observer.outcome(result.task) : nullptr;
        if (outcome == nullptr) {
            std::printf("%s: not started: %s\n", keyword.c_str(), result.table_error.c_str());
            all_good = false;
            continue;
        }
        all_good =
            print_task_summary(keyword, *outcome, observer.first_failure(result.task)) && all_good;
    }
    return all_good ? 0 : 1;
}

int run_tables(const Options& options) {
    if (!options.arguments.empty()) {
        std::fprintf(stderr, "qinglan: tables takes no arguments\n%s", kUsage);
        return 2;
    }
    auto store = open_store(options);
    if (!store) {
        return 1;
    }
    std::vector<std::string> names;
    std::string error;
    if (!store->read_table_names(&names, &error)) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 1;
    }
    bool all_counted = true;
    for (const std::string& name : names) {
        long long rows = 0;
        if (store->count_rows(name, &rows, &error)) {
            std::printf("%s\t%lld\n", name.c_str(), rows);
        } else {
            std::fprintf(stderr, "qinglan: %s\n", error.c_str());
            all_counted = false;
        }
    }
    return all_counted ? 0 : 1;
}

}  // namespace qinglan
