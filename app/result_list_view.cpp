#include "app/result_list_view.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QToolTip>

#include <algorithm>

#include "app/result_list_model.h"

namespace qinglan {
namespace {

// Rows measured for the column widths: enough to see the usual values,
// few enough that a large list costs no more than a small one.
constexpr int kMeasuredRows = 500;
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
    const QFontMetrics headings = horizontalHeader()->fontMetrics();
    for (int column = 0; column < ResultListModel::kColumns; ++column) {
        setColumnWidth(column, ResultListModel::column_width(column));
    }
    for (int column = 0; column < kRecordFields; ++column) {
        // Room for the sort arrow beside the heading.
        fit_width(column, headings.horizontalAdvance(ResultListModel::column_title(column)) + 28);
    }
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { schedule_fit(first, last); });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& top_left, const QModelIndex& bottom_right) {
                schedule_fit(top_left.row(), bottom_right.row());
            });
    connect(model, &QAbstractItemModel::layoutChanged, this,
            [this] { schedule_fit(0, kMeasuredRows - 1); });
}

void ResultListView::schedule_fit(int first_row, int last_row) {
    if (first_row >= kMeasuredRows) {
        return;
    }
    if (fit_first_ < 0) {
        // Once the batch in hand is in: rows arrive empty and are filled at once.
        QTimer::singleShot(0, this, [this] {
            const int first = fit_first_;
            const int last = fit_last_;
            fit_first_ = fit_last_ = -1;
            fit_columns(first, last);
        });
        fit_first_ = first_row;
        fit_last_ = last_row;
    }
    fit_first_ = std::min(fit_first_, first_row);
    fit_last_ = std::max(fit_last_, last_row);
}

void ResultListView::fit_width(int column, int width) {
    width = std::min(width, kMaxColumnWidth);
    if (width > columnWidth(column)) {
        setColumnWidth(column, width);
    }
}

void ResultListView::fit_columns(int first_row, int last_row) {
    const QFontMetrics cells = fontMetrics();
    last_row = std::min({last_row, model()->rowCount() - 1, kMeasuredRows - 1});
    for (int column = 0; column < kRecordFields; ++column) {
        int& longest = longest_[static_cast<std::size_t>(column)];
        for (int row = std::max(first_row, 0); row <= last_row; ++row) {
            const QString text = model()->index(row, column).data().toString();
            // Laying out a text costs far more than counting it: only a text
            // about as long as the longest so far can be the widest.
            int length = 0;
            for (const QChar c : text) {
                length += c.unicode() >= 0x2E80 ? 2 : 1;
            }
            if (length * 4 < longest * 3) {
                continue;
            }
            longest = std::max(longest, length);
            fit_width(column, cells.horizontalAdvance(text) + 14);
        }
    }
}

QString ResultListView::selected_text() const {
    // By the selection's ranges, not its cells: a whole list selected is
    // one range, where a list of its cells would be a million entries.
    const QItemSelection selection = selectionModel()->selection();
    if (selection.isEmpty()) {
        return {};
    }
    int top = selection.front().top();
    int bottom = selection.front().bottom();
    int left = selection.front().left();
    int right = selection.front().right();
    for (const QItemSelectionRange& range : selection) {
        top = std::min(top, range.top());
        bottom = std::max(bottom, range.bottom());
        left = std::min(left, range.left());
        right = std::max(right, range.right());
    }
    // The empty column after the record's is no spreadsheet column.
    right = std::min(right, kRecordFields - 1);
    if (left > right) {
        return {};
    }
    const auto* list = static_cast<const ResultListModel*>(model());
    QString text;
    QStringList line;
    for (int row = top; row <= bottom; ++row) {
        const ContactRecord record = list->record(list->source_row(row));
        bool any = false;
        line.clear();
        for (int column = left; column <= right; ++column) {
            const bool selected =
                std::any_of(selection.begin(), selection.end(), [&](const auto& range) {
                    return range.top() <= row && row <= range.bottom() && range.left() <= column &&
                           column <= range.right();
                });
            any = any || selected;
            line << (selected ? spreadsheet_cell(QString::fromStdString(
                                    record[static_cast<std::size_t>(column)]))
                              : QString());
        }
        if (any) {
            text += line.join(QLatin1Char('\t')) + QStringLiteral("\r\n");
        }
    }
    return text;
}

QString ResultListView::cell_tooltip(const QModelIndex& index) const {
    if (!index.isValid() || index.column() >= kRecordFields) {
        return {};
    }
    const QString text = index.data().toString();
    const int margins = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
    const bool cut = text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) ||
                     fontMetrics().horizontalAdvance(text) + margins > columnWidth(index.column());
    return cut ? text : QString();
}

bool ResultListView::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) {
        return QTableView::viewportEvent(event);
    }
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    const QString text = cell_tooltip(index);
    if (text.isEmpty()) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(help->globalPos(), text, viewport(), visualRect(index));
    }
    return true;
}

void ResultListView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        const QString text = selected_text();
        if (!text.isEmpty()) {
            QApplication::clipboard()->setText(text);
        }
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

}  // namespace qinglan
