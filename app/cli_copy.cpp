#include "app/cli_copy.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/terminal_text.h"
#include "storage/store_factory.h"

namespace qinglan {
namespace {

struct Keyword {
    std::vector<ContactRecord> rows;
    CollectionState state;
};

bool read_keyword(RecordStore& store, const std::string& keyword, Keyword* read,
                  std::string* error) {
    return store.read_state(keyword, &read->state, error) &&
           store.read_rows(
               keyword,
               [read](ContactRecord&& record) {
                   read->rows.push_back(std::move(record));
                   return true;
               },
               error);
}

bool same_state(const CollectionState& a, const CollectionState& b) {
    return a.tracked == b.tracked && a.listed == b.listed && a.members == b.members &&
           a.stored == b.stored && a.next_page == b.next_page;
}

// One keyword, both stores claiming it; the line to print, and whether the
// keyword is at the destination afterwards.
bool copy_keyword(RecordStore& from, RecordStore& to, const std::string& keyword,
                  bool at_destination, std::string* line) {
    std::string error;
    Keyword source;
    if (!read_keyword(from, keyword, &source, &error)) {
        *line = "not copied: " + error;
        return false;
    }
    if (at_destination) {
        Keyword there;
        if (!read_keyword(to, keyword, &there, &error)) {
            *line = "not copied: " + error;
            return false;
        }
        if (there.rows == source.rows && same_state(there.state, source.state)) {
            *line = "already at " + to.location() + " with its " +
                    std::to_string(source.rows.size()) + " rows, not copied again";
            return true;
        }
        *line = "not copied: " + to.location() +
                " holds it with other rows or another state; delete it there with forget "
                "to copy it";
        return false;
    }
    if (!to.import_table(keyword, source.rows, source.state, &error)) {
        *line = "not copied: " + error;
        return false;
    }
    *line = std::to_string(source.rows.size()) + " rows copied to " + to.location();
    return true;
}

// The keywords to copy: those named, in order and once each, or every
// stored keyword but the first table "123" when none is named. False,
// after saying why on stderr, when a named one is not stored in `from`.
bool keywords_to_copy(const Options& options, const std::vector<std::string>& source_names,
                      const RecordStore& from, std::vector<std::string>* keywords) {
    for (const std::string& keyword : options.arguments) {
        if (std::find(source_names.begin(), source_names.end(), keyword) == source_names.end()) {
            std::fprintf(stderr,
                         "qinglan: '%s' is not a stored keyword in %s; nothing was copied\n",
                         escape_controls(keyword).c_str(), from.location().c_str());
            return false;
        }
        if (std::find(keywords->begin(), keywords->end(), keyword) == keywords->end()) {
            keywords->push_back(keyword);
        }
    }
    if (options.arguments.empty()) {
        std::copy_if(source_names.begin(), source_names.end(), std::back_inserter(*keywords),
                     [](const std::string& name) { return name != "123"; });
    }
    return true;
}

// Copies one keyword while both stores hold it claimed: neither may be
// collecting it meanwhile.
bool claim_and_copy(RecordStore& from, RecordStore& to, const std::string& keyword,
                    bool at_destination, std::string* line) {
    std::string error;
    if (!from.claim(keyword, &error)) {
        *line = "not copied: at " + from.location() + " " + error;
        return false;
    }
    bool copied = false;
    if (!to.claim(keyword, &error)) {
        *line = "not copied: at " + to.location() + " " + error;
    } else {
        copied = copy_keyword(from, to, keyword, at_destination, line);
        to.release(keyword);
    }
    from.release(keyword);
    return copied;
}

}  // namespace

int run_copy(const Options& options) {
    if (options.copy_from.empty() || options.copy_to.empty()) {
        std::fprintf(stderr, "qinglan: copy needs --from and --to\n%s", kUsage);
        return 2;
    }
    std::string error;
    auto from = open_record_store(options.copy_from, &error);
    if (!from) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 1;
    }
    auto to = open_record_store(options.copy_to, &error);
    if (!to) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 1;
    }
    if (from->location() == to->location()) {
        std::fprintf(stderr, "qinglan: --from and --to are the same store\n");
        return 2;
    }
    std::vector<std::string> source_names, destination_names;
    if (!from->read_table_names(&source_names, &error) ||
        !to->read_table_names(&destination_names, &error)) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::string> keywords;
    if (!keywords_to_copy(options, source_names, *from, &keywords)) {
        return 1;
    }
    bool all_copied = true;
    for (const std::string& keyword : keywords) {
        const bool at_destination = std::find(destination_names.begin(), destination_names.end(),
                                              keyword) != destination_names.end();
        std::string line;
        all_copied = claim_and_copy(*from, *to, keyword, at_destination, &line) && all_copied;
        std::printf("%s\n", escape_controls(keyword + ": " + line).c_str());
    }
    return all_copied ? 0 : 1;
}

}  // namespace qinglan
