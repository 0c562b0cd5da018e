#include "app/cli_commands.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>

#include "app/console_observer.h"
#include "engine/collection_engine.h"
#include "engine/page_saver.h"
#include "services/fetch.h"
#include "storage/store_factory.h"

namespace qinglan {
namespace {

std::atomic<CollectionEngine*> interrupted_engine{nullptr};

// Ctrl-C ends the transfers and any wait for a busy database; the rows
// stored so far stay.
extern "C" void on_interrupt(int) {
    if (CollectionEngine* engine = interrupted_engine.load()) {
        engine->request_stop();
    }
}

std::unique_ptr<RecordStore> open_store(const Options& options) {
    std::string error;
    auto store = open_record_store(store_place(options), &error);
    if (!store) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
    }
    return store;
}

// The store and its keyword tables; nullptr after saying why on stderr.
std::unique_ptr<RecordStore> open_with_names(const Options& options,
                                             std::vector<std::string>* names) {
    auto store = open_store(options);
    std::string error;
    if (store && !store->read_table_names(names, &error)) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        store.reset();
    }
    return store;
}

// Writes one line to stdout; false when it could not be written (a closed
// pipe, a full disk).
bool print_line(const std::string& line) {
    return std::fputs((line + "\n").c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
}

// The line of a keyword that ran no task.
std::string untasked_line(const std::string& keyword, const SubmitResult& result,
                          RecordStore& store) {
    if (result.kind == SubmitResult::kReopened) {
        long long rows = 0;
        store.count_rows(keyword, &rows, nullptr);
        return escape_controls(keyword + ": already stored with " + std::to_string(rows) +
                               " rows, not collected again");
    }
    if (result.kind == SubmitResult::kRefused) {
        return escape_controls(keyword + ": not collected: " + result.refusal);
    }
    return escape_controls(keyword + ": not started: " + result.table_error);
}

struct Submitted {
    std::string keyword;
    SubmitResult result;
};

// Submits every keyword and waits for the tasks; Ctrl-C or a TERM signal
// meanwhile stops them.
std::vector<Submitted> collect_all(CollectionEngine& engine, ConsoleObserver& observer,
                                   const Options& options) {
    interrupted_engine = &engine;
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);

    std::vector<Submitted> submitted;
    for (const std::string& keyword : options.arguments) {
        // The task's keyword is known to the terminal before its workers report.
        const int next_task = engine.task_count() + 1;
        observer.name_task(next_task, keyword);
        submitted.push_back({keyword, engine.submit_keyword(keyword, options.again)});
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
    return submitted;
}

// One line per keyword on stdout; the exit status of the collection.
int report_keywords(const std::vector<Submitted>& submitted, const ConsoleObserver& observer,
                    RecordStore& store) {
    bool all_good = true;
    bool output_lost = false;
    for (const auto& [keyword, result] : submitted) {
        const TaskOutcome* outcome = result.task > 0 ? observer.outcome(result.task) : nullptr;
        std::string line;
        if (outcome != nullptr) {
            line = task_summary(keyword, *outcome, observer.first_failure(result.task));
            all_good = outcome->succeeded() && all_good;
        } else {
            line = untasked_line(keyword, result, store);
            all_good = result.kind == SubmitResult::kReopened && all_good;
        }
        output_lost = !print_line(line) || output_lost;
    }
    output_lost = std::fflush(stderr) != 0 || std::ferror(stderr) != 0 || output_lost;
    if (!all_good) {
        return 1;
    }
    return output_lost ? 3 : 0;
}

}  // namespace

int run_collect(const Options& options) {
    if (options.arguments.empty()) {
        std::fprintf(stderr, "qinglan: collect needs at least one keyword\n%s", kUsage);
        return 2;
    }
    // A reader that goes away (| head) must not end the collection: every
    // row is still stored, and the exit status says the output was lost.
    std::signal(SIGPIPE, SIG_IGN);
    std::string error;
    if (!apply_network_settings(options, &error)) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 2;
    }
    auto store = open_store(options);
    if (!store) {
        return 1;
    }

    ConsoleObserver observer(stderr, isatty(STDERR_FILENO) == 1);
    CollectionEngine engine(*store, options.hosts, observer, options.parallel, options.site);
    if (!options.save_pages.empty()) {
        engine.set_page_saver(
            std::make_shared<PageSaver>(options.save_pages, [](const std::string& reason) {
                std::fprintf(stderr, "qinglan: a fetched page cannot be saved: %s\n",
                             escape_controls(reason).c_str());
            }));
    }
    if (!engine.read_table_names(&error)) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 1;
    }
    const std::vector<Submitted> submitted = collect_all(engine, observer, options);
    return report_keywords(submitted, observer, *store);
}

int run_tables(const Options& options) {
    if (!options.arguments.empty()) {
        std::fprintf(stderr, "qinglan: tables takes no arguments\n%s", kUsage);
        return 2;
    }
    // Which folder's keywords these are, apart from the list itself.
    std::fprintf(stderr, "data folder: %s\n", escape_controls(options.data_dir).c_str());
    std::vector<std::string> names;
    auto store = open_with_names(options, &names);
    if (!store) {
        return 1;
    }
    std::string error;
    bool all_read = true;
    for (const std::string& name : names) {
        long long rows = 0;
        CollectionState state;
        if (!store->count_rows(name, &rows, &error) || !store->read_state(name, &state, &error)) {
            std::fprintf(stderr, "qinglan: %s\n", escape_controls(error).c_str());
            all_read = false;
            continue;
        }
        // Members are known only for keywords collected since states are kept.
        const std::string members =
            state.listed ? std::to_string(state.members.size()) : std::string("-");
        std::printf("%s\t%lld\t%s\t%s\t%s\n", escape_controls(name).c_str(), rows, members.c_str(),
                    state.complete() ? "complete" : "incomplete",
                    escape_controls(state.site).c_str());
    }
    return all_read ? 0 : 1;
}

int run_forget(const Options& options) {
    if (options.arguments.empty()) {
        std::fprintf(stderr, "qinglan: forget needs at least one keyword\n%s", kUsage);
        return 2;
    }
    std::vector<std::string> names;
    auto store = open_with_names(options, &names);
    if (!store) {
        return 1;
    }
    std::string error;
    // Every keyword must be stored and free, or nothing is deleted.
    std::vector<std::string> claimed;
    bool refused = false;
    for (const std::string& keyword : options.arguments) {
        const std::string shown = escape_controls(keyword);
        if (std::find(names.begin(), names.end(), keyword) == names.end()) {
            std::fprintf(stderr, "qinglan: '%s' is not a stored keyword\n", shown.c_str());
            refused = true;
        } else if (std::find(claimed.begin(), claimed.end(), keyword) == claimed.end()) {
            if (store->claim(keyword, &error)) {
                claimed.push_back(keyword);
            } else {
                std::fprintf(stderr, "qinglan: '%s' cannot be deleted: %s\n", shown.c_str(),
                             error.c_str());
                refused = true;
            }
        }
    }
    bool forgotten = false;
    if (!refused) {
        forgotten = store->forget(claimed, &error);
        if (!forgotten) {
            std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        }
    }
    for (const std::string& keyword : claimed) {
        store->release(keyword);
    }
    if (!forgotten) {
        std::fprintf(stderr, "qinglan: nothing was deleted\n");
        return 1;
    }
    for (const std::string& keyword : claimed) {
        std::printf("%s: deleted\n", escape_controls(keyword).c_str());
    }
    return 0;
}

}  // namespace qinglan
