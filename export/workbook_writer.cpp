#include "export/workbook_writer.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "export/cell_text.h"
#include "export/workbook_check.h"
#include "services/failure.h"
#include "services/utf8.h"

namespace qinglan {
namespace {

// Rows per hand-over, and hand-overs that may wait: enough to keep both
// threads busy, little enough to stay at a few hundred kilobytes.
constexpr std::size_t kBatchRows = 256;
constexpr std::size_t kQueuedBatches = 4;

// Excel's built-in number format 49 is "@", text. The built-in one rather
// than a custom format with the code "@" is what Excel itself writes.
constexpr uint8_t kTextFormatIndex = 49;

constexpr auto kWaitingInterval = std::chrono::milliseconds(50);

}  // namespace

std::string cell_name(std::size_t row, std::size_t column) {
    std::string name(1, static_cast<char>('A' + column));
    name += std::to_string(row + 1);
    return name;
}

WorkbookWriter::~WorkbookWriter() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            abandoned_ = !ended_;
            ended_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    if (workbook_ != nullptr) {
        lxw_workbook_free(workbook_);
    }
}

bool WorkbookWriter::start(const std::string& file, const std::string& temporary_folder,
                           const std::vector<std::string>& sheet_names, std::string* error) {
    file_ = file;
    temporary_folder_ = temporary_folder;
    sheet_names_ = sheet_names;
    lxw_workbook_options options{};
    // Constant memory streams each finished row to a temporary file instead
    // of keeping the sheet; it needs the rows of a sheet in ascending order,
    // which is how they come.
    options.constant_memory = LXW_TRUE;
    options.tmpdir = temporary_folder_.data();
    options.use_zip64 = LXW_FALSE;
    workbook_ = workbook_new_opt(file_.c_str(), &options);
    if (workbook_ == nullptr) {
        return fail(error, "cannot start a workbook");
    }
    for (const std::string& name : sheet_names_) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook_, name.c_str());
        if (sheet == nullptr) {
            return fail(error, "cannot add the worksheet '" + name + "'");
        }
        sheets_.push_back(sheet);
    }
    text_format_ = workbook_add_format(workbook_);
    if (text_format_ == nullptr) {
        return fail(error, "cannot start a workbook: out of memory");
    }
    format_set_num_format_index(text_format_, kTextFormatIndex);
    written_rows_.assign(sheets_.size(), 0);
    widest_.assign(sheets_.size(), {});
    handed_rows_.assign(sheets_.size(), 0);
    try {
        thread_ = std::thread(&WorkbookWriter::run, this);
    } catch (const std::system_error& e) {
        return fail(error, std::string("cannot start the workbook's writer: ") + e.what());
    }
    return true;
}

void WorkbookWriter::take_batch() {
    {
        std::lock_guard lock(mutex_);
        if (!spare_.empty()) {
            filling_ = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    if (!filling_) {
        filling_ = std::make_unique<Batch>();
        filling_->rows.resize(kBatchRows);
        filling_->columns.resize(kBatchRows);
    }
    filling_->used = 0;
    filling_->sheet = sheet_;
}

void WorkbookWriter::begin_sheet(std::size_t index) {
    // A batch holds the rows of one sheet.
    if (filling_ && filling_->used > 0 && filling_->sheet != index) {
        hand_on(std::move(filling_));
    }
    sheet_ = index;
    if (filling_) {
        filling_->sheet = index;
    }
}

void WorkbookWriter::set_cell(std::size_t column, const std::string& value) {
    if (!filling_) {
        take_batch();
    }
    CellChanges changes;
    const std::string& text = prepare_cell_text(value, &buffer_, &changes);
    filling_->rows[filling_->used][column] = text;
    if (changes.replaced) {
        ++losses_.replaced_cells;
    }
    if (changes.cut) {
        if (++losses_.cut_cells <= kNamedCutCells) {
            losses_.cut_cell_names.push_back(sheet_names_[sheet_] + "!" +
                                             cell_name(handed_rows_[sheet_], column));
        }
    }
}

bool WorkbookWriter::end_row(std::size_t columns) {
    if (!filling_) {
        take_batch();
    }
    filling_->columns[filling_->used] = columns;
    ++handed_rows_[sheet_];
    if (++filling_->used < kBatchRows) {
        return true;
    }
    hand_on(std::move(filling_));
    std::lock_guard lock(mutex_);
    return !failed_;
}

void WorkbookWriter::hand_on(std::unique_ptr<Batch> batch) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return full_.size() < kQueuedBatches || failed_; });
    if (failed_) {
        spare_.push_back(std::move(batch));
        return;
    }
    full_.push_back(std::move(batch));
    lock.unlock();
    changed_.notify_all();
}

bool WorkbookWriter::finish(const std::function<void()>& waiting, std::string* error) {
    if (filling_ && filling_->used > 0) {
        hand_on(std::move(filling_));
    }
    {
        std::unique_lock lock(mutex_);
        ended_ = true;
        changed_.notify_all();
        while (!changed_.wait_for(lock, kWaitingInterval, [&] { return done_; })) {
            if (waiting) {
                lock.unlock();
                waiting();
                lock.lock();
            }
        }
    }
    thread_.join();
    if (failed_) {
        return fail(error, error_);
    }
    // The library does not say when the writes to its temporary files fail,
    // only what was written shows it.
    std::string damage;
    if (!check_workbook(file_, handed_rows_, &damage)) {
        return fail(error,
                    "the written workbook is incomplete (" + damage + "); the disk may be full");
    }
    return true;
}

std::size_t display_width(const std::string& text) {
    std::size_t width = 0;
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        at += decode_utf8(text, at, &c);
        // CJK, full-width forms and the planes beyond show twice as wide.
        width += c >= 0x2E80 && c != kIllFormedUtf8 ? 2 : 1;
    }
    return width;
}

void WorkbookWriter::set_column_widths() {
    for (std::size_t sheet = 0; sheet < sheets_.size(); ++sheet) {
        for (std::size_t column = 0; column < kMaxExportColumns; ++column) {
            const std::size_t widest = widest_[sheet][column];
            if (widest == 0) {
                continue;  // an empty column keeps the default width
            }
            // A character's room besides the text, as a spreadsheet widens.
            const double width = static_cast<double>(std::min(widest + 1, kMaxColumnChars));
            const auto col = static_cast<lxw_col_t>(column);
            worksheet_set_column(sheets_[sheet], col, col, width, nullptr);
        }
    }
}

bool WorkbookWriter::write_batch(const Batch& batch) {
    lxw_worksheet* sheet = sheets_[batch.sheet];
    std::size_t& sheet_row = written_rows_[batch.sheet];
    auto& widest = widest_[batch.sheet];
    for (std::size_t r = 0; r < batch.used; ++r, ++sheet_row) {
        const auto row = static_cast<lxw_row_t>(sheet_row);
        for (std::size_t column = 0; column < batch.columns[r]; ++column) {
            const std::string& text = batch.rows[r][column];
            const auto col = static_cast<lxw_col_t>(column);
            // Past the cap the count no longer matters.
            if (widest[column] < kMaxColumnChars && !text.empty()) {
                widest[column] = std::max(widest[column], display_width(text));
            }
            const lxw_error written =
                text.empty() ? worksheet_write_blank(sheet, row, col, text_format_)
                             : worksheet_write_string(sheet, row, col, text.c_str(), text_format_);
            if (written != LXW_NO_ERROR) {
                std::lock_guard lock(mutex_);
                error_ = sheet_names_[batch.sheet] + "!" + cell_name(sheet_row, column) + ": " +
                         lxw_strerror(written);
                return false;
            }
        }
    }
    return true;
}

bool WorkbookWriter::close_workbook(std::string* reason) {
    // The library says what failed but not why; errno still holds the
    // system's reason when a write was the cause.
    errno = 0;
    const lxw_error closed = workbook_close(workbook_);
    const int system_error = errno;
    workbook_ = nullptr;
    if (closed == LXW_NO_ERROR) {
        return true;
    }
    *reason = lxw_strerror(closed);
    if (system_error != 0) {
        *reason += std::string(" (") + std::strerror(system_error) + ")";
    }
    return false;
}

void WorkbookWriter::run() {
    bool good = true;
    for (;;) {
        std::unique_ptr<Batch> batch;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return !full_.empty() || ended_; });
            if (abandoned_ || full_.empty()) {
                break;
            }
            batch = std::move(full_.front());
            full_.pop_front();
        }
        changed_.notify_all();  // room in the queue
        good = write_batch(*batch);
        std::lock_guard lock(mutex_);
        spare_.push_back(std::move(batch));
        if (!good) {
            break;
        }
    }
    bool abandoned;
    {
        std::lock_guard lock(mutex_);
        abandoned = abandoned_;
    }
    std::string reason;
    if (good && !abandoned) {
        set_column_widths();
        good = close_workbook(&reason);
    }
    {
        std::lock_guard lock(mutex_);
        if (!good) {
            failed_ = true;
            if (error_.empty()) {
                error_ = reason;
            }
        }
        done_ = true;
    }
    changed_.notify_all();
}

}  // namespace qinglan
