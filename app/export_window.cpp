#include "app/export_window.h"
#include "app/window_fit.h"

#include <QProgressBar>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "app/result_list_model.h"
#include "export/row_source.h"
#include "export/table_export.h"

namespace qinglan {
namespace {

// How often the progress window is brought up to date during an export.
constexpr auto kProgressInterval = std::chrono::milliseconds(30);

// The rows of a result list, as the list held them when the export began:
// each row's fields joined by zero bytes, as the list keeps them, so that a
// large list costs about its own size once more.
class ModelRowSource final : public RowSource {
public:
    ModelRowSource(ResultListModel& model, bool shown_only)
        : closed_(std::make_shared<std::atomic<bool>>(false)) {
        const int count = shown_only ? model.rowCount() : model.total_rows();
        rows_.reserve(static_cast<std::size_t>(count));
        for (int row = 0; row < count; ++row) {
            rows_.push_back(pack(model.record(shown_only ? model.source_row(row) : row)));
        }
        QObject::connect(&model, &QObject::destroyed, [closed = closed_] { *closed = true; });
    }

    std::size_t row_count() override { return rows_.size(); }

    bool row(std::size_t index, ContactRecord* out) override {
        if (*closed_ || index >= rows_.size()) {
            return false;
        }
        const std::string& packed = rows_[index];
        std::size_t begin = 0;
        for (std::size_t field = 0; field < out->size(); ++field) {
            const std::size_t end = std::min(packed.find('\0', begin), packed.size());
            (*out)[field].assign(packed, begin, end - begin);
            begin = std::min(end + 1, packed.size());
        }
        return true;
    }

private:
    static std::string pack(const ContactRecord& record) {
        std::string packed;
        for (std::size_t field = 0; field < record.size(); ++field) {
            packed += field == 0 ? std::string() : std::string(1, '\0');
            packed += record[field];
        }
        return packed;
    }

    std::shared_ptr<std::atomic<bool>> closed_;  // set on the windows' thread
    std::vector<std::string> rows_;
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
    fit_to_screen(this, size());
}

std::unique_ptr<RowSource> result_list_rows(ResultListModel& model, bool shown_only) {
    return std::make_unique<ModelRowSource>(model, shown_only);
}

ExportJob::ExportJob(QWidget* owner, std::vector<std::unique_ptr<RowSource>> sources,
                     std::vector<ExportKeyword> keywords, bool merge, const QString& path,
                     Done done)
    : sources_(std::move(sources)),
      keywords_(std::move(keywords)),
      merge_(merge),
      path_(path.toStdString()),
      done_(std::move(done)),
      window_(new ExportWindow(owner)) {
    window_->progress_bar()->setMaximum(0);
    window_->show();
    work_ = std::make_unique<BackgroundWork>(
        [this](const UiAnswers& answers, const std::atomic<bool>& stop) { run(answers, stop); });
}

ExportJob::~ExportJob() {
    work_.reset();  // stops the export, which then removes its temporary file
    if (window_) {
        window_->close();
    }
}

void ExportJob::run(const UiAnswers& answers, const std::atomic<bool>& stop) {
    auto last_shown = std::chrono::steady_clock::now();
    Result result;
    result.written = export_keywords(
        path_, keywords_, merge_,
        [&](std::size_t done, std::size_t total) {
            const auto now = std::chrono::steady_clock::now();
            if (now - last_shown >= kProgressInterval || done >= total) {
                last_shown = now;
                answers.post([this, done, total] { show_progress(done, total); });
            }
            return !stop;
        },
        &result.report, &result.error);
    answers.post([this, result = std::move(result)] { end(result); });
}

void ExportJob::show_progress(std::size_t done, std::size_t total) {
    if (window_) {
        window_->progress_bar()->setMaximum(static_cast<int>(total));
        window_->progress_bar()->setValue(static_cast<int>(done));
    }
}

void ExportJob::end(const Result& result) {
    if (window_) {
        window_->close();
    }
    // `done` may destroy this export: it runs from a copy of its own.
    const Done done = std::move(done_);
    done(result);
}

}  // namespace qinglan
