#pragma once

// A new workbook of one or more worksheets, written by libxlsxwriter on a
// thread of its own. The caller's thread stays free to fetch and prepare
// the next rows while the library formats the previous ones. The two meet
// only in a short queue of row batches, so memory stays bounded however
// long the lists.
//
// Each column is as wide as its longest text needs (CJK characters count
// as two, up to kMaxColumnChars), so a workbook opens readable without
// widening its columns by hand. Every cell carries the built-in text format
// (number format 49); an empty text is a blank cell with that format.
// Values are made fit for a cell by prepare_cell_text (export/cell_text.h)
// on the caller's thread. Each sheet streams its rows to a temporary file in
// `temporary_folder` (libxlsxwriter's constant memory mode), so the writer
// needs a few megabytes for any number of rows.
//
// The library does not check the writes to its temporary files, so once
// closed the workbook is read back (export/workbook_check.h) before finish()
// calls it written. Failures (a cell the library refuses, a write that
// fails, a workbook that does not read back whole) come back with a reason;
// once failed, the writer takes no more rows. Destroyed before finish(), the
// workbook is dropped without writing the file.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "export/table_sink.h"
#include "services/contact_record.h"

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace qinglan {

// The most columns a sheet of the export has: a keyword and a record.
inline constexpr std::size_t kMaxExportColumns = kRecordFields + 1;

using CellTexts = std::array<std::string, kMaxExportColumns>;

// The widest a column of a workbook is made, in characters.
inline constexpr std::size_t kMaxColumnChars = 50;

// How many characters wide `text` (UTF-8) shows: two for each CJK
// character, one for any other.
std::size_t display_width(const std::string& text);

// The name of a cell as a spreadsheet shows it ("C7"), from the 0-based sheet
// row and column (column below 26).
std::string cell_name(std::size_t row, std::size_t column);

class WorkbookWriter final : public TableSink {
public:
    WorkbookWriter() = default;
    ~WorkbookWriter() override;
    WorkbookWriter(const WorkbookWriter&) = delete;
    WorkbookWriter& operator=(const WorkbookWriter&) = delete;

    // Creates the workbook to be written to `file` (which is truncated) with
    // one worksheet per name (valid and unique sheet names, see SheetNames)
    // and starts the writing thread.
    bool start(const std::string& file, const std::string& temporary_folder,
               const std::vector<std::string>& sheet_names, std::string* error);

    void begin_sheet(std::size_t index) override;
    void set_cell(std::size_t column, const std::string& value) override;
    bool end_row(std::size_t columns) override;
    bool finish(const std::function<void()>& waiting, std::string* error) override;
    const CellLosses& losses() const override { return losses_; }

private:
    struct Batch {
        std::size_t sheet = 0;
        std::vector<CellTexts> rows;
        std::vector<std::size_t> columns;
        std::size_t used = 0;
    };

    void run();
    bool write_batch(const Batch& batch);
    void hand_on(std::unique_ptr<Batch> batch);
    void take_batch();
    bool close_workbook(std::string* reason);
    void set_column_widths();

    lxw_workbook* workbook_ = nullptr;
    std::vector<lxw_worksheet*> sheets_;
    lxw_format* text_format_ = nullptr;
    std::string file_;
    std::string temporary_folder_;  // the library keeps a pointer to it
    std::vector<std::string> sheet_names_;
    std::thread thread_;
    std::vector<std::size_t> written_rows_;  // per sheet, on the writing thread
    // Per sheet and column, on the writing thread: the widest text written.
    std::vector<std::array<std::size_t, kMaxExportColumns>> widest_;

    // On the caller's thread.
    std::unique_ptr<Batch> filling_;
    std::size_t sheet_ = 0;
    std::vector<std::size_t> handed_rows_;  // per sheet
    std::string buffer_;
    CellLosses losses_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Batch>> full_;    // waiting to be written
    std::vector<std::unique_ptr<Batch>> spare_;  // written, for reuse
    bool ended_ = false;
    bool abandoned_ = false;
    bool done_ = false;
    bool failed_ = false;
    std::string error_;
};

}  // namespace qinglan
