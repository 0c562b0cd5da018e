#include "export/table_export.h"

#include <memory>
#include <unordered_set>

#include "export/replacing_file.h"
#include "export/sheet_names.h"
#include "services/failure.h"

namespace qinglan {
namespace {

// The rows of an export as they go out: headings, rows, progress.
class ExportRun {
public:
    ExportRun(TableSink& sink, std::size_t total, const ExportProgress& progress)
        : sink_(sink), total_(total), progress_(progress) {}

    void headings(bool keyword_column) {
        std::size_t column = 0;
        if (keyword_column) {
            sink_.set_cell(column++, std::string(kKeywordHeading));
        }
        for (const std::string_view heading : kExportHeadings) {
            sink_.set_cell(column++, std::string(heading));
        }
        writing_ = sink_.end_row(column);
    }

    // Writes the rows of `source`; with `keyword`, a merged table's rows,
    // each account only once. False when a row could not be read.
    bool rows(RowSource& source, std::size_t count, const std::string* keyword,
              ExportReport* report, std::string* error) {
        for (std::size_t index = 0; index < count && writing_; ++index) {
            if (!source.row(index, &record_)) {
                return fail(error, "row " + std::to_string(index + 1) + " of " +
                                       std::to_string(count) + " of the list could not be read");
            }
            ++done_;
            if (keyword != nullptr && !first_time(record_[kAccount])) {
                ++report->duplicates;
            } else {
                write(keyword);
                ++report->rows;
            }
            if (progress_ && !progress_(done_, total_)) {
                return fail(error, "the export was stopped");
            }
        }
        return true;
    }

private:
    bool first_time(const std::string& account) {
        return account.empty() || accounts_.insert(account).second;
    }

    void write(const std::string* keyword) {
        std::size_t column = 0;
        if (keyword != nullptr) {
            sink_.set_cell(column++, *keyword);
        }
        for (const std::string& value : record_) {
            sink_.set_cell(column++, value);
        }
        writing_ = sink_.end_row(column);
    }

    TableSink& sink_;
    const std::size_t total_;
    const ExportProgress& progress_;
    std::size_t done_ = 0;
    bool writing_ = true;
    ContactRecord record_;
    std::unordered_set<std::string> accounts_;
};

// The row counts, taken once; false when a sheet could not hold them.
bool count_rows(const std::vector<ExportKeyword>& keywords, bool merge,
                std::vector<std::size_t>* counts, std::size_t* total, std::string* error) {
    *total = 0;
    for (const ExportKeyword& keyword : keywords) {
        counts->push_back(keyword.rows->row_count());
        *total += counts->back();
        if (!merge && counts->back() > kMaxExportRows) {
            return fail(error, "'" + keyword.keyword + "' has " + std::to_string(counts->back()) +
                                   " rows; a worksheet holds at most " +
                                   std::to_string(kMaxExportRows) + " below its headings");
        }
    }
    return true;
}

bool write_tables(TableSink& sink, const std::vector<ExportKeyword>& keywords, bool merge,
                  const std::vector<std::size_t>& counts, std::size_t total,
                  const ExportProgress& progress, ExportReport* report, std::string* error) {
    ExportRun run(sink, total, progress);
    if (merge) {
        run.headings(true);
    }
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        if (!merge) {
            sink.begin_sheet(k);
            run.headings(false);
        }
        const std::string* keyword = merge ? &keywords[k].keyword : nullptr;
        if (!run.rows(*keywords[k].rows, counts[k], keyword, report, error)) {
            return false;
        }
        if (merge && report->rows > kMaxExportRows) {
            return fail(error, "the merged rows are more than the " +
                                   std::to_string(kMaxExportRows) + " a worksheet holds");
        }
    }
    return true;
}

}  // namespace

bool export_keywords(const std::string& path, const std::vector<ExportKeyword>& keywords,
                     bool merge, const ExportProgress& progress, ExportReport* report,
                     std::string* error) {
    *report = {};
    const ExportFormat& format = export_format(path);
    if (keywords.empty()) {
        return fail(error, "no keyword to export");
    }
    if (!format.holds(keywords.size(), merge)) {
        return fail(error, "a CSV file holds one table: several keywords go into it merged");
    }
    std::vector<std::size_t> counts;
    std::size_t total = 0;
    if (!count_rows(keywords, merge, &counts, &total, error)) {
        return false;
    }
    if (merge) {
        report->sheet_names.emplace_back(kMergedSheetName);
    } else {
        SheetNames names;
        for (const ExportKeyword& keyword : keywords) {
            report->sheet_names.push_back(names.add(keyword.keyword));
        }
    }
    ReplacingFile file(path);
    if (!file.create(error)) {
        return false;
    }
    std::string reason;
    // A workbook's temporary files go to the destination's folder, which
    // has to hold the result anyway, rather than to a /tmp that may be a
    // small RAM disk.
    const auto sink =
        format.start(file.temporary_path(), file.folder(), report->sheet_names, &reason);
    if (!sink) {
        return fail(error, "cannot write " + path + ": " + reason);
    }
    if (!write_tables(*sink, keywords, merge, counts, total, progress, report, error)) {
        return false;
    }
    // The library cannot be stopped while it closes the workbook; a stop
    // meanwhile only keeps the result from taking the name.
    bool stopped = false;
    const auto waiting = [&] { stopped = stopped || (progress && !progress(total, total)); };
    if (!sink->finish(waiting, &reason)) {
        return fail(error, "cannot write " + path + ": " + reason);
    }
    if (stopped) {
        return fail(error, "the export was stopped");
    }
    report->losses = sink->losses();
    return file.commit(error);
}

}  // namespace qinglan
