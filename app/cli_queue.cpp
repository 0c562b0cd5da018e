#include "app/cli_queue.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/json_text.h"
#include "app/queue_profile.h"
#include "app/terminal_text.h"
#include "storage/postgres_queue.h"
#include "storage/store_factory.h"

namespace qinglan {
namespace {

// Opens the store first: it makes the queue's table on a new database.
bool open_queue(const Options& options, std::unique_ptr<WorkQueue>* queue) {
    std::string error;
    if (!open_record_store(options.database_url, &error)) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return false;
    }
    *queue = std::make_unique<WorkQueue>(options.database_url);
    return true;
}

int server_failed(const std::string& error) {
    std::fprintf(stderr, "qinglan: the work queue: %s\n", escape_controls(error).c_str());
    return 1;
}

std::string json_line(const QueueEntry& entry) {
    const auto text_or_null = [](const std::string& text) {
        return text.empty() ? std::string("null") : json_string(text);
    };
    return "{\"keyword\":" + json_string(entry.keyword) + ",\"state\":" + json_string(entry.state) +
           ",\"worker\":" + text_or_null(entry.worker) + ",\"rows\":" + std::to_string(entry.rows) +
           ",\"members\":" +
           (entry.members < 0 ? std::string("null") : std::to_string(entry.members)) +
           ",\"tries\":" + std::to_string(entry.tries) +
           ",\"reason\":" + text_or_null(entry.reason) +
           ",\"profile\":" + json_string(entry.profile) + ",\"added\":" + json_string(entry.added) +
           ",\"updated\":" + json_string(entry.updated) + "}";
}

std::string plain_line(const QueueEntry& entry) {
    const auto or_dash = [](const std::string& text) {
        return text.empty() ? std::string("-") : escape_controls(text);
    };
    return escape_controls(entry.keyword) + "\t" + entry.state + "\t" + or_dash(entry.worker) +
           "\t" + std::to_string(entry.rows) + "\t" +
           (entry.members < 0 ? std::string("-") : std::to_string(entry.members)) + "\t" +
           std::to_string(entry.tries) + "/" + std::to_string(entry.allowed) + "\t" +
           or_dash(entry.reason) + "\t" + escape_controls(entry.profile) + "\t" + entry.added +
           "\t" + entry.updated;
}

int list_queue(const Options& options, WorkQueue& queue) {
    std::vector<QueueEntry> entries;
    std::string error;
    if (!queue.list(&entries, &error)) {
        return server_failed(error);
    }
    for (const QueueEntry& entry : entries) {
        std::printf("%s\n", (options.json ? json_line(entry) : plain_line(entry)).c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 3;
}

int add_keywords(const Options& options, const std::vector<std::string>& keywords,
                 WorkQueue& queue) {
    std::vector<bool> added;
    std::vector<QueueEntry> entries;
    std::map<std::string, std::string> states;
    std::string error;
    if (!add_to_queue(options, keywords, queue, &added, &error)) {
        // A profile that cannot be read is the user's to mend; the server's
        // failures are said as the other commands say them.
        if (added.empty()) {
            std::fprintf(stderr, "qinglan: %s\n", error.c_str());
            return 2;
        }
        return server_failed(error);
    }
    if (!queue.list(&entries, &error)) {
        return server_failed(error);
    }
    for (const QueueEntry& entry : entries) {
        states[entry.keyword] = entry.state;
    }
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        const std::string said =
            added[k] ? std::string("added") : "already queued (" + states[keywords[k]] + ")";
        std::printf("%s: %s\n", escape_controls(keywords[k]).c_str(), said.c_str());
    }
    return 0;
}

int retry_keywords(const Options& options, const std::vector<std::string>& keywords,
                   WorkQueue& queue) {
    std::vector<std::string> changed;
    std::string error;
    if (!queue.retry(keywords, options.failed, &changed, &error)) {
        return server_failed(error);
    }
    for (const std::string& keyword : changed) {
        std::printf("%s: waiting\n", escape_controls(keyword).c_str());
    }
    for (const std::string& keyword : keywords) {
        if (std::find(changed.begin(), changed.end(), keyword) == changed.end()) {
            std::fprintf(stderr, "qinglan: '%s' is not queued, or is running\n",
                         escape_controls(keyword).c_str());
        }
    }
    return changed.size() >= keywords.size() ? 0 : 1;
}

int remove_keywords(const Options& options, const std::vector<std::string>& keywords,
                    WorkQueue& queue) {
    std::vector<std::string> removed, running;
    std::string error;
    if (!queue.remove(keywords, options.done, &removed, &running, &error)) {
        return server_failed(error);
    }
    for (const std::string& keyword : removed) {
        std::printf("%s: removed\n", escape_controls(keyword).c_str());
    }
    for (const std::string& keyword : running) {
        std::fprintf(stderr, "qinglan: '%s' is running, not removed\n",
                     escape_controls(keyword).c_str());
    }
    bool all_found = true;
    for (const std::string& keyword : keywords) {
        const auto in = [&](const std::vector<std::string>& list) {
            return std::find(list.begin(), list.end(), keyword) != list.end();
        };
        if (!in(removed) && !in(running)) {
            std::fprintf(stderr, "qinglan: '%s' is not queued\n", escape_controls(keyword).c_str());
            all_found = false;
        }
    }
    return running.empty() && all_found ? 0 : 1;
}

}  // namespace

bool queue_on_server(const Options& options, const char* command) {
    if (!options.database_url.empty()) {
        return true;
    }
    std::fprintf(stderr,
                 "qinglan: %s needs the team's server: the work queue lives in a PostgreSQL "
                 "database (--database postgresql://USER@HOST:PORT/DB)\n",
                 command);
    return false;
}

int run_queue(const Options& options) {
    if (!queue_on_server(options, "queue")) {
        return 2;
    }
    const std::vector<std::string>& args = options.arguments;
    const std::string verb = args.empty() ? "" : args.front();
    const std::vector<std::string> keywords(args.begin() + (args.empty() ? 0 : 1), args.end());
    const bool by_state = verb == "retry" ? options.failed : verb == "remove" && options.done;
    if ((!verb.empty() && verb != "add" && verb != "retry" && verb != "remove") ||
        (!verb.empty() && keywords.empty() == !by_state)) {
        std::fprintf(stderr,
                     "qinglan: queue takes add KEYWORD..., retry KEYWORD...|--failed, "
                     "remove KEYWORD...|--done, or nothing (the list)\n");
        return 2;
    }
    std::unique_ptr<WorkQueue> queue;
    if (!open_queue(options, &queue)) {
        return 1;
    }
    if (verb == "add") {
        return add_keywords(options, keywords, *queue);
    }
    if (verb == "retry") {
        return retry_keywords(options, keywords, *queue);
    }
    if (verb == "remove") {
        return remove_keywords(options, keywords, *queue);
    }
    return list_queue(options, *queue);
}

}  // namespace qinglan
