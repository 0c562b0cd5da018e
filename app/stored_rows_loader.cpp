#include "app/stored_rows_loader.h"

#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace qinglan {
namespace {

// Small first batch, so the first screen of rows shows at once.
constexpr std::size_t kFirstBatch = 200;
constexpr std::size_t kBatch = 5000;

}  // namespace

StoredRowsLoader::StoredRowsLoader(RecordStore& store, std::string table, int row_limit,
                                   ResultListModel* model,
                                   std::function<void(const QString&)> on_failure,
                                   std::function<void()> on_end)
    : work_([&store, table = std::move(table), row_limit, model, on_failure = std::move(on_failure),
             on_end = std::move(on_end)](const UiAnswers& answers, const std::atomic<bool>& stop) {
          run(store, table, row_limit, model, on_failure, on_end, answers, stop);
      }) {}

void StoredRowsLoader::run(RecordStore& store, const std::string& table, int row_limit,
                           ResultListModel* model,
                           const std::function<void(const QString&)>& on_failure,
                           const std::function<void()>& on_end, const UiAnswers& answers,
                           const std::atomic<bool>& stop) {
    std::vector<ContactRecord> batch;
    std::size_t batch_size = kFirstBatch;
    int next_row = 0;  // where the batch in hand goes
    auto hand_over = [&] {
        if (batch.empty()) {
            return;
        }
        auto rows = std::make_shared<std::vector<ContactRecord>>(std::move(batch));
        batch.clear();
        const int first_row = next_row;
        next_row += static_cast<int>(rows->size());
        answers.post([model, first_row, rows] { model->put_records(first_row, std::move(*rows)); });
    };
    // Rows a running task adds to the table after the limit are that task's
    // to show; reading on would show them twice.
    std::size_t left = row_limit < 0 ? std::numeric_limits<std::size_t>::max()
                                     : static_cast<std::size_t>(row_limit);
    const auto take = [&](ContactRecord&& record) {
        batch.push_back(std::move(record));
        if (batch.size() >= batch_size) {
            hand_over();
            batch_size = kBatch;
        }
        return --left > 0 && !stop.load();
    };
    std::string error;
    const bool read = left == 0 || store.read_rows(table, take, &error);
    hand_over();
    if (!read && !stop && on_failure) {
        answers.post([on_failure, reason = QString::fromStdString(error)] { on_failure(reason); });
    }
    if (!stop && on_end) {
        answers.post(on_end);
    }
}

}  // namespace qinglan
