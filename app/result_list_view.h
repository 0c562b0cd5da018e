#pragma once

// The view of one result list: sorts by a clicked heading (a second click
// reverses), copies the selected cells with Ctrl+C as tab-separated lines
// that paste into a spreadsheet cell for cell (the twelve record columns at
// most, never the empty one after them), widens its columns to their
// contents (measured on the first rows shown), never narrowing one the user
// has widened, and shows a cell its column cuts whole in a tooltip.

#include <QTableView>

#include <array>

#include "services/contact_record.h"

namespace qinglan {

class ResultListModel;

class ResultListView final : public QTableView {
    Q_OBJECT

public:
    ResultListView(ResultListModel* model, QWidget* parent = nullptr);

    // The tooltip of the cell at `index`: its whole text when the column
    // cannot show all of it, else none.
    QString cell_tooltip(const QModelIndex& index) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    // The selected cells as spreadsheet text: one line per row, cells by
    // tabs, within the rectangle the selection spans (unselected cells in
    // it empty). A cell holding a tab, a line break or a quote is quoted.
    QString selected_text() const;
    // Widens the columns to what shown rows first_row to last_row need,
    // once the events in hand are handled.
    void schedule_fit(int first_row, int last_row);
    void fit_columns(int first_row, int last_row);
    void fit_width(int column, int width);

    int fit_first_ = -1;  // rows waiting to be measured; -1: none
    int fit_last_ = -1;
    // By column: the length of the longest text measured, CJK characters counted twice.
    std::array<int, kRecordFields> longest_{};
};

}  // namespace qinglan
