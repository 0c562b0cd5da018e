#pragma once

// The export of a result list from the windows: the small progress window
// "EXECL导出。。。。" and the export itself, run on the windows' thread with
// the events handled between rows, so the windows stay responsive and the
// progress window can be closed without stopping the export.

#include <QDialog>
#include <QString>

#include <string>

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

struct ExportReport;

// Writes the rows `model` holds now to `path`, a workbook whose sheet is
// named after `keyword` or a CSV file; rows added while it runs are not
// exported. Shows the progress in an ExportWindow owned by `owner`. Once
// `*stop` is set (the program is being closed) the export ends without
// writing anything.
bool export_result_list(QWidget* owner, ResultListModel& model, const QString& keyword,
                        const QString& path, const bool* stop, ExportReport* report,
                        std::string* error);

}  // namespace qinglan
