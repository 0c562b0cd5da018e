#include "app/stored_rows_loader.h"

#include <QMetaObject>

#include <memory>
#include <vector>

namespace qinglan {
namespace {

// Small first batch, so the first screen of rows shows at once.
constexpr std::size_t kFirstBatch = 200;
constexpr std::size_t kBatch = 5000;

}  // namespace

StoredRowsLoader::StoredRowsLoader(RecordStore& store, std::string table, ResultListModel* model,
                                   std::function<void(const QString&)> on_failure)
    : model_(model) {
    thread_ = std::thread([this, &store, table = std::move(table),
                           on_failure = std::move(on_failure)] { run(store, table, on_failure); });
}

StoredRowsLoader::~StoredRowsLoader() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

void StoredRowsLoader::run(RecordStore& store, const std::string& table,
                           std::function<void(const QString&)> on_failure) {
    std::vector<ContactRecord> batch;
    std::size_t batch_size = kFirstBatch;
    auto hand_over = [&] {
        if (batch.empty()) {
            return;
        }
        auto rows = std::make_shared<std::vector<ContactRecord>>(std::move(batch));
        batch.clear();
        ResultListModel* model = model_;
        QMetaObject::invokeMethod(
            model, [model, rows] { model->append_records(std::move(*rows)); },
            Qt::QueuedConnection);
    };
    std::string error;
    const bool read = store.read_rows(
        table,
        [&](ContactRecord&& record) {
            batch.push_back(std::move(record));
            if (batch.size() >= batch_size) {
                hand_over();
                batch_size = kBatch;
            }
            return !stop_.load();
        },
        &error);
    hand_over();
    if (!read && !stop_ && on_failure) {
        const QString reason = QString::fromStdString(error);
        QMetaObject::invokeMethod(
            model_, [on_failure, reason] { on_failure(reason); }, Qt::QueuedConnection);
    }
}

}  // namespace qinglan
