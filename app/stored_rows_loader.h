#pragma once

// Fills a result list with a stored keyword's rows without holding up the
// windows: a thread reads the table and hands the rows over in batches by
// queued calls bound to the model. Each batch names the rows it fills, so a
// task writing the rows after the stored ones into the same list at the same
// time never collides with it. Destroying the loader stops the reading,
// waits for the thread and drops the batches not yet handed over, so a list
// emptied right after holds no row of this reading; the model must outlive
// the loader.

#include <QObject>
#include <atomic>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/result_list_model.h"
#include "storage/record_store.h"

namespace qinglan {

class StoredRowsLoader {
public:
    static constexpr int kAllRows = -1;

    // Reads the table's first `row_limit` rows (kAllRows: every row) into
    // rows 0, 1, … of `model`. `on_failure` runs on the windows' thread with
    // the reason when the table cannot be read.
    StoredRowsLoader(RecordStore& store, std::string table, int row_limit, ResultListModel* model,
                     std::function<void(const QString&)> on_failure);
    ~StoredRowsLoader();
    StoredRowsLoader(const StoredRowsLoader&) = delete;
    StoredRowsLoader& operator=(const StoredRowsLoader&) = delete;

private:
    void run(RecordStore& store, const std::string& table, int row_limit,
             std::function<void(const QString&)> on_failure);

    ResultListModel* const model_;
    // The queued hand-overs are bound to it: they go with it.
    std::unique_ptr<QObject> context_ = std::make_unique<QObject>();
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace qinglan
