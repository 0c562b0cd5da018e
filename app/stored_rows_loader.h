#pragma once

// Fills a result list with a stored keyword's rows without holding up the
// windows: a thread reads the table and hands the rows over in batches by
// queued calls bound to the model. Each batch names the rows it fills, so a
// task writing the rows after the stored ones into the same list at the same
// time never collides with it. Destroying the loader stops the reading,
// waits for the thread and drops the batches not yet handed over, so a list
// emptied right after holds no row of this reading; the model must outlive
// the loader.

#include <QString>

#include <atomic>
#include <functional>
#include <string>

#include "app/background_work.h"
#include "app/result_list_model.h"
#include "storage/record_store.h"

namespace qinglan {

class StoredRowsLoader {
public:
    static constexpr int kAllRows = -1;

    // Reads the table's first `row_limit` rows (kAllRows: every row) into
    // rows 0, 1, … of `model`. `on_failure` runs on the windows' thread with
    // the reason when the table cannot be read; `on_end` runs there after the
    // last batch is in the model, read or not.
    StoredRowsLoader(RecordStore& store, std::string table, int row_limit, ResultListModel* model,
                     std::function<void(const QString&)> on_failure,
                     std::function<void()> on_end = {});
    StoredRowsLoader(const StoredRowsLoader&) = delete;
    StoredRowsLoader& operator=(const StoredRowsLoader&) = delete;

private:
    static void run(RecordStore& store, const std::string& table, int row_limit,
                    ResultListModel* model, const std::function<void(const QString&)>& on_failure,
                    const std::function<void()>& on_end, const UiAnswers& answers,
                    const std::atomic<bool>& stop);

    BackgroundWork work_;
};

}  // namespace qinglan
