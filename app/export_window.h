#pragma once

// The export from the windows: the small progress window "EXECL导出。。。。"
// and the export itself, run on the windows' thread with the events handled
// between rows, so the windows stay responsive and the progress window can
// be closed without stopping the export.

#include <QDialog>
#include <QString>

#include <memory>
#include <string>
#include <vector>

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
// order shown. A list closed meanwhile has no more rows: the export fails.
std::unique_ptr<RowSource> result_list_rows(ResultListModel& model, bool shown_only);

// Writes the keywords' rows to `path` as export_keywords does, showing the
// progress in an ExportWindow owned by `owner`. Once `*stop` is set (the
// program is being closed) the export ends without writing anything.
bool export_rows(QWidget* owner, const std::vector<ExportKeyword>& keywords, bool merge,
                 const QString& path, const bool* stop, ExportReport* report, std::string* error);

}  // namespace qinglan
