#include "export/xlsx_export.h"

#include <chrono>

#include "export/cell_text.h"
#include "export/replacing_file.h"
#include "export/sheet_writer.h"
#include "export/workbook_check.h"
#include "services/failure.h"

namespace qinglan {
namespace {

// How often the check takes in what the library has written meanwhile, and
// how often the caller hears from an export that is being finished.
constexpr int kFollowIntervalMs = 2;
constexpr auto kFinishingProgressInterval = std::chrono::milliseconds(50);

// The cell text for list row `row` (1-based, so sheet row `row` below the
// headings), column `column`; false when it is longer than a cell can hold,
// since cutting it short would be a silent change of the value.
bool fill_cell(const std::string& value, std::size_t row, std::size_t column, std::string* buffer,
               std::string* cell, std::string* error) {
    std::size_t length = 0;
    const std::string& text = prepare_cell_text(value, buffer, &length);
    if (length > kMaxCellLength) {
        return fail(error, "the text for cell " + cell_name(row, column) + " (row " +
                               std::to_string(row) + " of the list, " +
                               std::string(kExportHeadings[column]) + ") has " +
                               std::to_string(length) + " characters; a cell holds at most " +
                               std::to_string(kMaxCellLength));
    }
    *cell = text;
    return true;
}

}  // namespace

bool export_xlsx(const std::string& path, RowSource& rows, const ExportProgress& progress,
                 std::string* error) {
    const std::size_t total = rows.row_count();
    if (total > kMaxExportRows) {
        return fail(error, "the list has " + std::to_string(total) +
                               " rows; a worksheet holds at most " +
                               std::to_string(kMaxExportRows) + " below its headings");
    }
    ReplacingFile file(path);
    if (!file.create(error)) {
        return false;
    }
    // The library's temporary files go to the destination's folder, which
    // has to hold the result anyway, rather than to a /tmp that may be a
    // small RAM disk.
    SheetWriter writer;
    std::string reason;
    if (!writer.start(file.temporary_path(), file.folder(), &reason)) {
        return fail(error, "cannot write " + path + ": " + reason);
    }

    CellTexts& headings = writer.next_row();
    for (std::size_t column = 0; column < kRecordFields; ++column) {
        headings[column] = kExportHeadings[column];
    }
    bool writing = writer.add_row();
    ContactRecord record;
    std::string buffer;
    for (std::size_t index = 0; index < total && writing; ++index) {
        if (!rows.row(index, &record)) {
            return fail(error, "row " + std::to_string(index + 1) + " of " + std::to_string(total) +
                                   " of the list could not be read");
        }
        CellTexts& texts = writer.next_row();
        for (std::size_t column = 0; column < kRecordFields; ++column) {
            if (!fill_cell(record[column], index + 1, column, &buffer, &texts[column], error)) {
                return false;
            }
        }
        writing = writer.add_row();
        if (progress) {
            progress(index + 1, total);
        }
    }
    writer.end_rows();

    // While the library compresses the workbook, this thread reads back what
    // it has written so far, and lets the caller run its event loop.
    WorkbookCheck check(file.temporary_path());
    auto heard = std::chrono::steady_clock::now();
    while (!writer.wait_done(kFollowIntervalMs)) {
        check.follow();
        if (progress && std::chrono::steady_clock::now() - heard >= kFinishingProgressInterval) {
            progress(total, total);
            heard = std::chrono::steady_clock::now();
        }
    }
    if (!writer.result(&reason)) {
        return fail(error, "cannot write " + path + ": " + reason);
    }
    std::string damage;
    if (!check.finish(total + 1, &damage)) {
        return fail(error, "cannot write " + path + ": the written workbook is incomplete (" +
                               damage + "); the disk may be full");
    }
    return file.commit(error);
}

}  // namespace qinglan
