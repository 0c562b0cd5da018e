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

#include <QAbstractTableModel>

#include <string>
#include <vector>

#include "storage/contact_record.h"

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

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Whole records into rows first_row, first_row + 1, …; missing rows are
    // added empty.
    void put_records(int first_row, std::vector<ContactRecord> records);
    // Cells of rows that may not exist yet; missing rows are added empty.
    void apply_cells(const std::vector<Cell>& cells);

    // Row `row` (0-based) as a record; the rows that exist right now are
    // what an export takes.
    ContactRecord record(int row) const;
    std::string cell_text(int row, int field) const;

private:
    static std::string pack(const ContactRecord& record);
    // Adds empty rows up to row `last_row`, telling the views.
    void grow_to(int last_row);

    std::vector<std::string> rows_;
};

}  // namespace qinglan
