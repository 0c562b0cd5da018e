#pragma once

// The view of one result list: sorts by a clicked heading (a second click
// reverses), copies the selected cells with Ctrl+C as tab-separated lines
// that paste into a spreadsheet cell for cell, and widens its columns to
// their contents (measured on the first rows shown), never narrowing one the
// user has widened.

#include <QTableView>

namespace qinglan {

class ResultListModel;

class ResultListView final : public QTableView {
    Q_OBJECT

public:
    ResultListView(ResultListModel* model, QWidget* parent = nullptr);

    // The selected cells as spreadsheet text: one line per row, cells by
    // tabs, within the rectangle the selection spans (unselected cells in
    // it empty). A cell holding a tab, a line break or a quote is quoted.
    QString selected_text() const;
    void copy_selection() const;

    // Widens each column to what its heading and the first rows need.
    void fit_columns();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void schedule_fit(int first_row);

    bool fit_scheduled_ = false;
};

}  // namespace qinglan
