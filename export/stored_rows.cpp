#include "export/stored_rows.h"

#include <system_error>
#include <utility>

namespace qinglan {
namespace {

// Rows go over in batches, a few of which may wait: enough to keep both
// threads busy with little locking, a few hundred kilobytes of text.
constexpr std::size_t kBatchRows = 256;
constexpr std::size_t kQueuedBatches = 4;

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
    if (taken_ == taking_.size()) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return !full_.empty() || read_done_; });
            if (full_.empty()) {
                return false;
            }
            taking_ = std::move(full_.front());
            full_.pop_front();
        }
        changed_.notify_all();
        taken_ = 0;
    }
    *out = std::move(taking_[taken_++]);
    if (++next_ == count_) {
        stop_reading();  // lets the store serve other reads
    }
    return true;
}

void StoredRows::read() {
    // A failed read ends the rows early, and the export fails on the first
    // row missing.
    std::size_t handed = 0;
    std::vector<ContactRecord> batch;
    bool wanted = true;
    std::string error;
    store_.read_rows(
        keyword_,
        [&](ContactRecord&& record) {
            batch.push_back(std::move(record));
            ++handed;
            if (batch.size() == kBatchRows || handed == count_) {
                wanted = hand_on(&batch);
            }
            return wanted && handed < count_;
        },
        &error);
    if (wanted && !batch.empty()) {
        hand_on(&batch);
    }
    {
        std::lock_guard lock(mutex_);
        read_done_ = true;
    }
    changed_.notify_all();
}

bool StoredRows::hand_on(std::vector<ContactRecord>* batch) {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return full_.size() < kQueuedBatches || stopping_; });
        if (stopping_) {
            return false;
        }
        full_.push_back(std::move(*batch));
    }
    changed_.notify_all();
    batch->clear();
    batch->reserve(kBatchRows);
    return true;
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
