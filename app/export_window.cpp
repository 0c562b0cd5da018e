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
    explicit ModelRowSource(ResultListModel& model) : model_(&model) {}

    std::size_t row_count() override {
        return model_ ? static_cast<std::size_t>(model_->total_rows()) : 0;
    }

    bool row(std::size_t index, ContactRecord* out) override {
        if (!model_ || index >= static_cast<std::size_t>(model_->total_rows())) {
            return false;
        }
        *out = model_->record(static_cast<int>(index));
        return true;
    }

private:
    QPointer<ResultListModel> model_;
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

bool export_result_list(QWidget* owner, ResultListModel& model, const QString& keyword,
                        const QString& path, const bool* stop, ExportReport* report,
                        std::string* error) {
    QPointer<ExportWindow> window = new ExportWindow(owner);
    window->progress_bar()->setMaximum(model.total_rows());
    window->show();

    ModelRowSource rows(model);
    QElapsedTimer since_events;
    since_events.start();
    const bool written = export_keywords(
        path.toStdString(), {{keyword.toStdString(), &rows}}, false,
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
