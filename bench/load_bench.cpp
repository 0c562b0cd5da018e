// load_bench --data-dir DIR --search-host H:P --member-host H:P
//            --contact-domain D:P [--] KEYWORD...
//
// Collects every keyword at once in this process, as `qinglan collect` does,
// and says what the collection cost: wall time, peak memory and the
// process's open descriptors counted before the store and the engine exist
// and again after each is gone. A descriptor left open by a transfer, a
// worker or the database shows as a difference here, where an outside
// observer only sees a process that exits and lets the kernel tidy up.
//
// Exit status 0 when every keyword ran to its end with every row stored and
// the descriptors are back to their starting number.

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/console_observer.h"
#include "engine/collection_engine.h"
#include "services/transfer_loop.h"
#include "storage/sqlite_store.h"

namespace {

// What /proc/self/fd shows, as "NUMBER -> TARGET", less the descriptor the
// listing itself holds open.
std::set<std::string> open_descriptors() {
    std::set<std::string> found;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return found;
    }
    const std::string own = std::to_string(dirfd(dir));
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == own) {
            continue;
        }
        char target[512];
        const ssize_t length =
            readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target - 1);
        found.insert(name + " -> " + std::string(target, length > 0 ? length : 0));
    }
    closedir(dir);
    return found;
}

// Names what one listing has and the other lacks, so that a difference in
// the counts can be told apart from a descriptor merely reused.
void print_difference(const char* when, const std::set<std::string>& before,
                      const std::set<std::string>& after) {
    for (const std::string& entry : after) {
        if (before.count(entry) == 0) {
            std::printf("  %s, opened and still open: %s\n", when, entry.c_str());
        }
    }
    for (const std::string& entry : before) {
        if (after.count(entry) == 0) {
            std::printf("  %s, open before and now closed: %s\n", when, entry.c_str());
        }
    }
}

double max_rss_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Keeps only the outcomes; the engine's reports from twenty tasks would
// otherwise cost more than the collection itself when printed.
class OutcomeObserver final : public qinglan::CollectionObserver {
public:
    void status_changed(int, int, const std::string&) override {}
    void task_row_added(int, const std::string&, int) override {}
    void member_done(int, int) override {}

    void storage_failed(int task, const std::string& message) override {
        std::lock_guard lock(mutex_);
        failures_.emplace(task, message);
    }

    void task_finished(int task, const qinglan::TaskOutcome& outcome) override {
        std::lock_guard lock(mutex_);
        outcomes_[task] = outcome;
    }

    const qinglan::TaskOutcome* outcome(int task) const {
        std::lock_guard lock(mutex_);
        const auto found = outcomes_.find(task);
        return found == outcomes_.end() ? nullptr : &found->second;
    }

    std::string failure(int task) const {
        std::lock_guard lock(mutex_);
        const auto found = failures_.find(task);
        return found == failures_.end() ? std::string() : found->second;
    }

private:
    mutable std::mutex mutex_;
    std::map<int, qinglan::TaskOutcome> outcomes_;
    std::map<int, std::string> failures_;  // the first one of each task
};

struct Arguments {
    std::string data_dir;
    qinglan::MarketHosts hosts;
    std::vector<std::string> keywords;
};

bool parse(int argc, char** argv, Arguments* arguments) {
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (!options || arg.substr(0, 2) != "--") {
            arguments->keywords.emplace_back(arg);
        } else if (arg == "--") {
            options = false;
        } else if (arg == "--data-dir" && has_value) {
            arguments->data_dir = argv[++i];
        } else if (arg == "--search-host" && has_value) {
            arguments->hosts.search_host = argv[++i];
        } else if (arg == "--member-host" && has_value) {
            arguments->hosts.member_host = argv[++i];
        } else if (arg == "--contact-domain" && has_value) {
            arguments->hosts.contact_domain = argv[++i];
        } else {
            return false;
        }
    }
    return !arguments->data_dir.empty() && !arguments->keywords.empty();
}

struct Submitted {
    std::string keyword;
    qinglan::SubmitResult result;
};

// Prints one line per keyword in the command line's words; true when every
// keyword was collected to its end and all its rows stored.
bool print_outcomes(const std::vector<Submitted>& submitted, const OutcomeObserver& observer) {
    bool all_good = true;
    for (const auto& [keyword, result] : submitted) {
        const qinglan::TaskOutcome* outcome =
            result.task > 0 ? observer.outcome(result.task) : nullptr;
        if (result.kind != qinglan::SubmitResult::kStarted || outcome == nullptr) {
            std::printf("%s: not collected: %s\n", keyword.c_str(), result.table_error.c_str());
            all_good = false;
            continue;
        }
        std::printf(
            "%s\n",
            qinglan::task_summary(keyword, *outcome, observer.failure(result.task)).c_str());
        all_good = outcome->succeeded() && all_good;
    }
    return all_good;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    if (!parse(argc, argv, &arguments)) {
        std::fprintf(stderr,
                     "usage: load_bench --data-dir DIR --search-host H:P --member-host H:P "
                     "--contact-domain D:P [--] KEYWORD...\n");
        return 2;
    }

    // The transfer loop is the process's for good, with its wake-up
    // descriptors: started first, it stays out of every count.
    qinglan::TransferLoop::shared();
    const auto at_start = open_descriptors();
    std::string error;
    auto store = qinglan::SqliteStore::open(arguments.data_dir, &error);
    if (!store) {
        std::fprintf(stderr, "load_bench: %s\n", error.c_str());
        return 1;
    }

    // SQLite opens the reading connection's WAL on its first read and keeps
    // it until the store closes; a first read here keeps that descriptor out
    // of the engine's count.
    std::vector<std::string> stored_tables;
    if (!store->read_table_names(&stored_tables, &error)) {
        std::fprintf(stderr, "load_bench: %s\n", error.c_str());
        return 1;
    }
    // The claims file is opened by the first claim and kept with the store.
    if (store->claim("", &error)) {
        store->release("");
    }
    const auto before_engine = open_descriptors();
    const auto started = std::chrono::steady_clock::now();
    std::vector<Submitted> submitted;
    OutcomeObserver observer;
    {
        qinglan::CollectionEngine engine(*store, arguments.hosts, observer);
        if (!engine.read_table_names(&error)) {
            std::fprintf(stderr, "load_bench: %s\n", error.c_str());
            return 1;
        }
        for (const std::string& keyword : arguments.keywords) {
            submitted.push_back({keyword, engine.submit_keyword(keyword)});
        }
        engine.wait_all();
        engine.stop();
    }
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - started;
    const auto after_engine = open_descriptors();
    store.reset();
    const auto at_end = open_descriptors();

    const bool all_collected = print_outcomes(submitted, observer);
    std::printf("collection wall time: %.3f s\n", wall.count());
    std::printf("max RSS: %.1f MiB\n", max_rss_mib());
    std::printf("descriptors around the engine: %zu before, %zu after\n", before_engine.size(),
                after_engine.size());
    print_difference("after the engine", before_engine, after_engine);
    std::printf("descriptors of the process: %zu at start, %zu at end (store closed)\n",
                at_start.size(), at_end.size());
    print_difference("at the end", at_start, at_end);
    const bool descriptors_back = after_engine == before_engine && at_end == at_start;
    return all_collected && descriptors_back ? 0 : 1;
}
