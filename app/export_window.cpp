#include "app/export_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QProgressBar>

#include "app/result_list_model.h"
#include "export/row_source.h"
#include "export/table_export.h"

namespace qinglan {
namespace {

// How often the windows get to handle their events during an export.
constexpr qint64 kEventIntervalMs = 30;

// The rows of a result list, as the list holds them.
class ModelRowSource final : public RowSource {
public:
    ModelRowSource(ResultListModel& model, bool shown_only) : model_(&model) {
        if (shown_only) {
            rows_.reserve(static_cast<std::size_t>(model.rowCount()));
            for (int row = 0; row < model.rowCount(); ++row) {
                rows_.push_back(model.source_row(row));
            }
        } else {
            rows_.resize(static_cast<std::size_t>(model.total_rows()));
            for (std::size_t row = 0; row < rows_.size(); ++row) {
                rows_[row] = static_cast<int>(row);
            }
        }
    }

    std::size_t row_count() override { return rows_.size(); }

    bool row(std::size_t index, ContactRecord* out) override {
        if (!model_ || index >= rows_.size()) {
            return false;
        }
        *out = model_->record(rows_[index]);
        return true;
    }

private:
    QPointer<ResultListModel> model_;
    std::vector<int> rows_;  // by their place among all rows
};

}  // namespace

QString ExportWindow::caption() {
    return QStringLiteral("EXECL导出。。。。");
}

ExportWindow::ExportWindow(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("export_window"));
    setWindowTitle(caption());
    setModal(false);
    setFixedSize(461, 98);
    setAttribute(Qt::WA_DeleteOnClose);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("进度条1"));
    progress_->setGeometry(16, 16, 424, 32);
    progress_->setMinimum(0);
}

std::unique_ptr<RowSource> result_list_rows(ResultListModel& model, bool shown_only) {
    return std::make_unique<ModelRowSource>(model, shown_only);
}

bool export_rows(QWidget* owner, const std::vector<ExportKeyword>& keywords, bool merge,
                 const QString& path, const bool* stop, ExportReport* report, std::string* error) {
    QPointer<ExportWindow> window = new ExportWindow(owner);
    window->progress_bar()->setMaximum(0);
    window->show();

    QElapsedTimer since_events;
    since_events.start();
    const bool written = export_keywords(
        path.toStdString(), keywords, merge,
        [&](std::size_t done, std::size_t total) {
            if (since_events.elapsed() < kEventIntervalMs && done < total) {
                return !*stop;
            }
            if (window) {
                window->progress_bar()->setMaximum(static_cast<int>(total));
                window->progress_bar()->setValue(static_cast<int>(done));
            }
            QApplication::processEvents();
            since_events.restart();
            return !*stop;
        },
        report, error);
    if (window) {
        window->close();
    }
    return written;
}

}  // namespace qinglan
