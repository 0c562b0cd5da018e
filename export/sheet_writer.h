#pragma once

// The one worksheet of a new workbook, written by libxlsxwriter on a thread
// of its own. The caller's thread stays free to fetch and prepare the next
// rows while the library formats the previous ones, and, while the library
// compresses the finished workbook, to check what it writes and to let a
// window handle its events. The two meet only in a short queue of row
// batches, so memory stays bounded however long the list.
//
// Every cell carries the built-in text format (number format 49); an empty
// text is a blank cell with that format. The workbook streams its rows to a
// temporary file in `temporary_folder` (libxlsxwriter's constant memory
// mode), so it needs a few megabytes for any number of rows.
//
// Failures (a cell the library refuses, a write that fails, the file that
// cannot be finished) come back from result() with a reason; once failed,
// the writer takes no more rows. Destroyed before end_rows(), the workbook
// is dropped without writing the file.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "storage/contact_record.h"

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace qinglan {

using CellTexts = std::array<std::string, kRecordFields>;

// The name of a cell as a spreadsheet shows it ("C7"), from the 0-based sheet
// row and column (column below 26).
std::string cell_name(std::size_t row, std::size_t column);

class SheetWriter {
public:
    SheetWriter() = default;
    ~SheetWriter();
    SheetWriter(const SheetWriter&) = delete;
    SheetWriter& operator=(const SheetWriter&) = delete;

    // Creates the workbook to be written to `file` (which is truncated) and
    // starts the writing thread.
    bool start(const std::string& file, const std::string& temporary_folder, std::string* error);

    // The texts of the next row, to be filled in place; its strings keep
    // their storage from earlier rows.
    CellTexts& next_row();

    // Hands the row filled in next_row() on. False once the writer failed.
    bool add_row();

    // No more rows: the thread finishes and closes the workbook.
    void end_rows();

    // Waits up to `milliseconds` for the thread to be done; true when it is.
    bool wait_done(int milliseconds);

    // Waits for the thread; false with the reason when anything failed.
    bool result(std::string* error);

private:
    struct Batch {
        std::vector<CellTexts> rows;
        std::size_t used = 0;
    };

    void run();
    bool write_batch(const Batch& batch);
    void hand_on(std::unique_ptr<Batch> batch);

    lxw_workbook* workbook_ = nullptr;
    lxw_worksheet* sheet_ = nullptr;
    lxw_format* text_format_ = nullptr;
    std::string file_;
    std::string temporary_folder_;  // the library keeps a pointer to it
    std::thread thread_;
    std::size_t next_sheet_row_ = 0;  // on the writing thread

    std::unique_ptr<Batch> filling_;  // on the caller's thread

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
