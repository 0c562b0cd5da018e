#include "export/stored_rows.h"

#include <system_error>
#include <utility>

namespace qinglan {
namespace {

// Rows waiting between the reader and the export: enough to keep both busy,
// a few hundred kilobytes of text.
constexpr std::size_t kQueuedRows = 1024;

}  // namespace

StoredRows::StoredRows(RecordStore& store, std::string keyword)
    : store_(store), keyword_(std::move(keyword)) {}

StoredRows::~StoredRows() {
    stop_reading();
}

bool StoredRows::open(std::string* error) {
    long long count = 0;
    if (!store_.count_rows(keyword_, &count, error)) {
        return false;
    }
    count_ = count > 0 ? static_cast<std::size_t>(count) : 0;
    return true;
}

bool StoredRows::row(std::size_t index, ContactRecord* out) {
    if (index != next_ || index >= count_) {
        return false;
    }
    if (!reader_.joinable()) {
        try {
            reader_ = std::thread(&StoredRows::read, this);
        } catch (const std::system_error&) {
            return false;  // the export fails on the row
        }
    }
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !queue_.empty() || read_done_; });
        if (queue_.empty()) {
            return false;
        }
        *out = std::move(queue_.front());
        queue_.pop_front();
    }
    changed_.notify_all();
    if (++next_ == count_) {
        stop_reading();  // lets the store serve other reads
    }
    return true;
}

void StoredRows::read() {
    // A failed read ends the rows early, and the export fails on the first
    // row missing.
    std::size_t handed = 0;
    std::string error;
    store_.read_rows(
        keyword_,
        [&](ContactRecord&& record) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return queue_.size() < kQueuedRows || stopping_; });
                if (stopping_) {
                    return false;
                }
                queue_.push_back(std::move(record));
            }
            changed_.notify_all();
            return ++handed < count_;
        },
        &error);
    {
        std::lock_guard lock(mutex_);
        read_done_ = true;
    }
    changed_.notify_all();
}

void StoredRows::stop_reading() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (reader_.joinable()) {
        reader_.join();
    }
}

}  // namespace qinglan
