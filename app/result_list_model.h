#pragma once

// The rows of one keyword's result list: the twelve record fields in their
// column order, plus an untitled thirteenth column that stays empty. Rows are
// only ever added, in batches, on the windows' thread. Each row is kept as
// one string of its fields separated by zero bytes, so that a list of a
// hundred thousand members stays small.
//
// Writers name the rows they write: a resumed keyword's list is filled by
// two at once (the stored rows from the database, the task's new rows after
// them), and whichever comes first leaves the other's rows empty until they
// arrive.
//
// The views see the rows through a filter (a text found in any column, case
// folded for Latin letters) and a sort by one column (a zh_CN collation:
// Chinese by pinyin, digits and Latin letters in their usual order; empty
// cells last either way). The filter works on the packed rows directly and
// the sort on collation keys made once per cell, so a hundred thousand rows
// filter and sort again in a few tens of milliseconds. Rows
// that arrive while a filter or sort applies join the view at the next
// refresh, a quarter of a second later at most, so a running collection
// does not sort the list once per row. rowCount() and data() are of the
// rows shown; record() and cell_text() take the row's place among all rows.

#include <QAbstractTableModel>
#include <QTimer>

#include <string>
#include <vector>

#include "app/collation_keys.h"
#include "services/contact_record.h"

namespace qinglan {

class ResultListModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kColumns = kRecordFields + 1;

    struct Cell {
        int row;
        int field;
        std::string value;
    };

    explicit ResultListModel(QObject* parent = nullptr);

    // The column titles and widths of every result list.
    static QString column_title(int column);
    static int column_width(int column);

    // Rows shown, after the filter.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Column -1: the rows in the order they came.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Shows only the rows holding `text` in some column; empty shows all.
    void set_filter(const QString& text);
    bool filtered() const { return !filter_.empty(); }

    int total_rows() const { return static_cast<int>(rows_.size()); }
    // The place among all rows of shown row `shown_row`.
    int source_row(int shown_row) const;
    // Drops every row: the list is filled anew.
    void clear();

    // Whole records into rows first_row, first_row + 1, …; missing rows are
    // added empty.
    void put_records(int first_row, std::vector<ContactRecord> records);
    // Cells of rows that may not exist yet; missing rows are added empty.
    void apply_cells(const std::vector<Cell>& cells);

    // Row `row` (0-based among all rows) as a record; the rows that exist
    // right now are what an export takes.
    ContactRecord record(int row) const;
    std::string cell_text(int row, int field) const;

signals:
    // The count of all rows changed (rows shown or not yet).
    void total_rows_changed();

private:
    static std::string pack(const ContactRecord& record);
    // Adds empty rows up to row `last_row`, telling the views.
    void grow_to(int last_row);
    // Rows first_row to last_row (among all rows) have new contents.
    void rows_changed(int first_row, int last_row);
    bool transformed() const { return sort_column_ >= 0 || !filter_.empty(); }
    // Filters and sorts anew, keeping the views' selection on its rows.
    void refresh();
    std::vector<int> shown_order() const;
    void sort_rows(std::vector<int>& order) const;

    std::vector<std::string> rows_;
    // While transformed(): the rows shown, by their place among all rows.
    std::vector<int> order_;
    int sort_column_ = -1;
    Qt::SortOrder sort_order_ = Qt::AscendingOrder;
    std::string filter_;  // UTF-8, Latin letters in lower case
    // Made while sorting, which does not change what is shown.
    mutable CollationKeys keys_;
    QTimer refresh_timer_;
};

}  // namespace qinglan
