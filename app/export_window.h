#pragma once

// The export from the windows: the small progress window "EXECL导出。。。。"
// and the export itself, run on a thread of its own so the windows stay
// responsive; the progress window can be closed without stopping it.

#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/background_work.h"
#include "export/row_source.h"
#include "export/table_export.h"

class QProgressBar;

namespace qinglan {

class ResultListModel;

class ExportWindow final : public QDialog {
    Q_OBJECT

public:
    explicit ExportWindow(QWidget* owner);

    static QString caption();
    QProgressBar* progress_bar() const { return progress_; }

private:
    QProgressBar* progress_;
};

// The rows a result list holds when the export begins (rows added while it
// runs are not exported): all of them, or the ones its filter shows, in the
// order shown. They are taken on the windows' thread, so the export's thread
// never reads the list. A list closed meanwhile has no more rows: the export
// fails.
std::unique_ptr<RowSource> result_list_rows(ResultListModel& model, bool shown_only);

// One export under way: writes the keywords' rows to `path` as
// export_keywords does, on a thread of its own, showing the progress in an
// ExportWindow owned by `owner`. When it ends, the progress window closes and
// `done` runs on the windows' thread (it may destroy the export).
// Destroying the export before that stops it and waits for it: nothing is
// written, a file at `path` stays as it was and `done` does not run.
class ExportJob {
public:
    struct Result {
        bool written = false;
        ExportReport report;
        std::string error;
    };
    using Done = std::function<void(const Result&)>;

    // `sources` hold the rows `keywords` point to.
    ExportJob(QWidget* owner, std::vector<std::unique_ptr<RowSource>> sources,
              std::vector<ExportKeyword> keywords, bool merge, const QString& path, Done done);
    ~ExportJob();
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

private:
    void run(const UiAnswers& answers, const std::atomic<bool>& stop);
    void show_progress(std::size_t done, std::size_t total);
    void end(const Result& result);

    const std::vector<std::unique_ptr<RowSource>> sources_;
    const std::vector<ExportKeyword> keywords_;
    const bool merge_;
    const std::string path_;
    Done done_;
    QPointer<ExportWindow> window_;
    // Last: it reads the members above, so it ends before they go.
    std::unique_ptr<BackgroundWork> work_;
};

}  // namespace qinglan
