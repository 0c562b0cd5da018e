#include "app/result_list_view.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>
#include <map>

#include "app/result_list_model.h"

namespace qinglan {
namespace {

// Rows measured for the column widths: enough to see the usual values,
// few enough that a large list costs no more than a small one.
constexpr int kMeasuredRows = 300;
constexpr int kMaxColumnWidth = 360;

QString spreadsheet_cell(const QString& text) {
    if (!text.contains(QLatin1Char('\t')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('"'))) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

ResultListView::ResultListView(ResultListModel* model, QWidget* parent) : QTableView(parent) {
    setModel(model);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setShowGrid(false);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    // Unsorted until a heading is clicked.
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
    for (int column = 0; column < ResultListModel::kColumns; ++column) {
        setColumnWidth(column, ResultListModel::column_width(column));
    }
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int) { schedule_fit(first); });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& top_left) { schedule_fit(top_left.row()); });
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] { schedule_fit(0); });
}

void ResultListView::schedule_fit(int first_row) {
    if (fit_scheduled_ || first_row >= kMeasuredRows) {
        return;
    }
    fit_scheduled_ = true;
    // Once the batch in hand is in: rows arrive empty and are filled at once.
    QTimer::singleShot(0, this, [this] {
        fit_scheduled_ = false;
        fit_columns();
    });
}

void ResultListView::fit_columns() {
    const QFontMetrics cells = fontMetrics();
    const QFontMetrics headings = horizontalHeader()->fontMetrics();
    const int rows = std::min(model()->rowCount(), kMeasuredRows);
    for (int column = 0; column < kRecordFields; ++column) {
        // Room for the sort arrow beside the heading.
        int width = headings.horizontalAdvance(
                        model()->headerData(column, Qt::Horizontal).toString()) +
                    28;
        for (int row = 0; row < rows && width < kMaxColumnWidth; ++row) {
            const QString text = model()->index(row, column).data().toString();
            width = std::max(width, cells.horizontalAdvance(text) + 14);
        }
        width = std::min(width, kMaxColumnWidth);
        if (width > columnWidth(column)) {
            setColumnWidth(column, width);
        }
    }
}

QString ResultListView::selected_text() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty()) {
        return {};
    }
    std::map<int, std::map<int, QString>> cells;  // by row, then column
    int first_column = selected.front().column();
    int last_column = first_column;
    for (const QModelIndex& index : selected) {
        cells[index.row()][index.column()] = index.data().toString();
        first_column = std::min(first_column, index.column());
        last_column = std::max(last_column, index.column());
    }
    QString text;
    for (const auto& [row, columns] : cells) {
        QStringList line;
        for (int column = first_column; column <= last_column; ++column) {
            const auto found = columns.find(column);
            line << (found != columns.end() ? spreadsheet_cell(found->second) : QString());
        }
        text += line.join(QLatin1Char('\t')) + QStringLiteral("\r\n");
    }
    return text;
}

void ResultListView::copy_selection() const {
    const QString text = selected_text();
    if (!text.isEmpty()) {
        QApplication::clipboard()->setText(text);
    }
}

void ResultListView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copy_selection();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

}  // namespace qinglan
