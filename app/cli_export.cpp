#include "app/cli_export.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/terminal_text.h"
#include "export/cell_text.h"
#include "export/stored_rows.h"
#include "export/table_export.h"
#include "export/temporary_files.h"
#include "storage/store_factory.h"

namespace qinglan {
namespace {

// Reads the rows stored for each keyword; false with a message printed.
bool read_keywords(RecordStore& store, const std::vector<std::string>& keywords,
                   std::vector<std::unique_ptr<StoredRows>>* rows) {
    std::string error;
    std::vector<std::string> names;
    if (!store.read_table_names(&names, &error)) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return false;
    }
    for (const std::string& keyword : keywords) {
        if (std::find(names.begin(), names.end(), keyword) == names.end()) {
            std::fprintf(stderr, "qinglan: '%s' has no stored table in %s; nothing was exported\n",
                         escape_controls(keyword).c_str(), store.location().c_str());
            return false;
        }
    }
    for (const std::string& keyword : keywords) {
        auto packed = std::make_unique<StoredRows>(store, keyword);
        if (!packed->open(&error)) {
            std::fprintf(stderr, "qinglan: %s\n", error.c_str());
            return false;
        }
        rows->push_back(std::move(packed));
    }
    return true;
}

// What the file holds, on stdout, and what making the values fit cost, on
// stderr: the file was written, so the exit status stays 0.
void print_report(const std::vector<ExportKeyword>& keywords, bool merge, const std::string& file,
                  const ExportReport& report) {
    const std::string shown_file = escape_controls(file);
    if (merge) {
        std::printf(
            "%zu keywords merged: %zu rows written to %s, %zu duplicate accounts left out\n",
            keywords.size(), report.rows, shown_file.c_str(), report.duplicates);
    } else {
        for (const ExportKeyword& keyword : keywords) {
            std::printf("%s: %zu rows written to %s\n", escape_controls(keyword.keyword).c_str(),
                        keyword.rows->row_count(), shown_file.c_str());
        }
    }
    const CellLosses& losses = report.losses;
    if (losses.cut_cells > 0) {
        std::string names;
        for (const std::string& name : losses.cut_cell_names) {
            names += (names.empty() ? "" : ", ") + escape_controls(name);
        }
        if (losses.cut_cells > losses.cut_cell_names.size()) {
            names += ", ...";
        }
        std::fprintf(stderr, "qinglan: %zu cells cut at the %zu characters a cell holds: %s\n",
                     losses.cut_cells, kMaxCellLength, names.c_str());
    }
    if (losses.replaced_cells > 0) {
        std::fprintf(stderr,
                     "qinglan: %zu cells held characters a workbook cannot carry (a NUL, invalid "
                     "UTF-8, U+FFFE or U+FFFF); each was written as U+FFFD\n",
                     losses.replaced_cells);
    }
}

}  // namespace

int run_export(const Options& options) {
    if (options.arguments.size() < 2) {
        std::fprintf(stderr, "qinglan: export needs at least one keyword and a file name\n%s",
                     kUsage);
        return 2;
    }
    const std::string& file = options.arguments.back();
    // A keyword named twice is exported once.
    std::vector<std::string> keywords;
    for (std::size_t i = 0; i + 1 < options.arguments.size(); ++i) {
        const std::string& keyword = options.arguments[i];
        if (std::find(keywords.begin(), keywords.end(), keyword) == keywords.end()) {
            keywords.push_back(keyword);
        }
    }
    if (!export_format(file).holds(keywords.size(), options.merge)) {
        std::fprintf(stderr,
                     "qinglan: a CSV file holds one table: export several keywords to it with "
                     "--merge\n%s",
                     kUsage);
        return 2;
    }

    std::string error;
    auto store = open_record_store(store_place(options), &error);
    if (!store) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::unique_ptr<StoredRows>> rows;
    if (!read_keywords(*store, keywords, &rows)) {
        return 1;
    }
    std::vector<ExportKeyword> sources;
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        sources.push_back({keywords[k], rows[k].get()});
    }
    // Ctrl-C must not leave the half-written file beside FILE.
    remove_temporary_files_on_signals();
    ExportReport report;
    if (!export_keywords(file, sources, options.merge, {}, &report, &error)) {
        std::fprintf(stderr, "qinglan: export to %s failed: %s\n", escape_controls(file).c_str(),
                     escape_controls(error).c_str());
        return 1;
    }
    print_report(sources, options.merge, file, report);
    return 0;
}

}  // namespace qinglan
