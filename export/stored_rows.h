#pragma once

// A keyword's stored rows streamed from the store to an export: a thread of
// their own reads the table in stored order and hands the rows over through
// a short queue of batches, so an export of any length holds a thousand rows
// or so at a time rather than the whole table.
//
// The count is taken by open(); the export then gets exactly that many
// rows, the first ones stored, even while a running collection adds more.
// The store's read is started at the first row and ended once the last
// counted row was taken (or when the source is destroyed), since the store
// serves one read at a time.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "export/row_source.h"
#include "storage/record_store.h"

namespace qinglan {

class StoredRows final : public RowSource {
public:
    StoredRows(RecordStore& store, std::string keyword);
    ~StoredRows() override;
    StoredRows(const StoredRows&) = delete;
    StoredRows& operator=(const StoredRows&) = delete;

    // Counts the keyword's rows; false with the store's reason.
    bool open(std::string* error);

    std::size_t row_count() override { return count_; }
    // Rows come in order only: `index` is the one after the last.
    bool row(std::size_t index, ContactRecord* out) override;

private:
    void read();
    // Queues a batch of rows for the export; false once no more are wanted.
    bool hand_on(std::vector<ContactRecord>* batch);
    void stop_reading();

    RecordStore& store_;
    const std::string keyword_;
    std::size_t count_ = 0;
    std::size_t next_ = 0;
    std::thread reader_;
    std::vector<ContactRecord> taking_;  // the batch rows are taken from
    std::size_t taken_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<ContactRecord>> full_;
    bool read_done_ = false;  // the reader handed over all it will
    bool stopping_ = false;   // no more rows are wanted
};

}  // namespace qinglan
