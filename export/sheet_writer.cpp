#include "export/sheet_writer.h"

#include <xlsxwriter.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace qinglan {
namespace {

// Rows per hand-over, and hand-overs that may wait: enough to keep both
// threads busy, little enough to stay at a few hundred kilobytes.
constexpr std::size_t kBatchRows = 256;
constexpr std::size_t kQueuedBatches = 4;

// Excel's built-in number format 49 is "@", text. The built-in one rather
// than a custom format with the code "@" is what Excel itself writes.
constexpr uint8_t kTextFormatIndex = 49;

}  // namespace

std::string cell_name(std::size_t row, std::size_t column) {
    std::string name(1, static_cast<char>('A' + column));
    name += std::to_string(row + 1);
    return name;
}

SheetWriter::~SheetWriter() {
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

bool SheetWriter::start(const std::string& file, const std::string& temporary_folder,
                        std::string* error) {
    file_ = file;
    temporary_folder_ = temporary_folder;
    lxw_workbook_options options{};
    // Constant memory streams each finished row to a temporary file instead
    // of keeping the sheet; it needs the rows in ascending order, which is
    // how they come.
    options.constant_memory = LXW_TRUE;
    options.tmpdir = temporary_folder_.data();
    options.use_zip64 = LXW_FALSE;
    workbook_ = workbook_new_opt(file_.c_str(), &options);
    if (workbook_ != nullptr) {
        sheet_ = workbook_add_worksheet(workbook_, nullptr);
        text_format_ = workbook_add_format(workbook_);
    }
    if (sheet_ == nullptr || text_format_ == nullptr) {
        *error = "cannot start a workbook: out of memory";
        return false;
    }
    format_set_num_format_index(text_format_, kTextFormatIndex);
    try {
        thread_ = std::thread(&SheetWriter::run, this);
    } catch (const std::system_error& e) {
        *error = std::string("cannot start the workbook's writer: ") + e.what();
        return false;
    }
    return true;
}

CellTexts& SheetWriter::next_row() {
    if (!filling_) {
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
        }
        filling_->used = 0;
    }
    return filling_->rows[filling_->used];
}

bool SheetWriter::add_row() {
    if (++filling_->used < kBatchRows) {
        return true;
    }
    hand_on(std::move(filling_));
    std::lock_guard lock(mutex_);
    return !failed_;
}

void SheetWriter::hand_on(std::unique_ptr<Batch> batch) {
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

void SheetWriter::end_rows() {
    if (filling_ && filling_->used > 0) {
        hand_on(std::move(filling_));
    }
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    changed_.notify_all();
}

bool SheetWriter::wait_done(int milliseconds) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return done_; });
}

bool SheetWriter::result(std::string* error) {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return done_; });
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    if (failed_) {
        *error = error_;
        return false;
    }
    return true;
}

bool SheetWriter::write_batch(const Batch& batch) {
    for (std::size_t r = 0; r < batch.used; ++r, ++next_sheet_row_) {
        const auto row = static_cast<lxw_row_t>(next_sheet_row_);
        for (std::size_t column = 0; column < kRecordFields; ++column) {
            const std::string& text = batch.rows[r][column];
            const auto col = static_cast<lxw_col_t>(column);
            const lxw_error written =
                text.empty() ? worksheet_write_blank(sheet_, row, col, text_format_)
                             : worksheet_write_string(sheet_, row, col, text.c_str(), text_format_);
            if (written != LXW_NO_ERROR) {
                std::lock_guard lock(mutex_);
                error_ =
                    "cell " + cell_name(next_sheet_row_, column) + ": " + lxw_strerror(written);
                return false;
            }
        }
    }
    return true;
}

void SheetWriter::run() {
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

    std::string reason;
    bool abandoned;
    {
        std::lock_guard lock(mutex_);
        abandoned = abandoned_;
    }
    if (good && !abandoned) {
        // The rows went to the library's temporary file, whose writes it
        // does not check; a full disk shows here first, with its reason.
        FILE* rows_file = sheet_->optimize_tmpfile;
        if (rows_file != nullptr && (std::fflush(rows_file) != 0 || std::ferror(rows_file))) {
            reason = std::strerror(errno);
            good = false;
        }
    }
    if (good && !abandoned) {
        // The library says what failed but not why; errno still holds the
        // system's reason when a write was the cause.
        errno = 0;
        const lxw_error closed = workbook_close(workbook_);
        const int system_error = errno;
        workbook_ = nullptr;
        if (closed != LXW_NO_ERROR) {
            reason = lxw_strerror(closed);
            if (system_error != 0) {
                reason += std::string(" (") + std::strerror(system_error) + ")";
            }
            good = false;
        }
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
