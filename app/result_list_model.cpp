#include "app/result_list_model.h"

#include <algorithm>
#include <array>

namespace qinglan {
namespace {

constexpr std::array<int, ResultListModel::kColumns> kWidths = {100, 50,  70,  50, 50,  50, 50,
                                                                50,  100, 100, 50, 100, 50};

// The field texts of a packed row, without copying.
std::array<std::string_view, kRecordFields> unpack(const std::string& packed) {
    std::array<std::string_view, kRecordFields> fields{};
    std::size_t start = 0;
    for (int i = 0; i < kRecordFields; ++i) {
        const std::size_t end = std::min(packed.find('\0', start), packed.size());
        fields[static_cast<std::size_t>(i)] = std::string_view(packed).substr(start, end - start);
        start = end + 1;
    }
    return fields;
}

// The mobile and address columns are centred, the others left-aligned.
QVariant column_alignment(int column) {
    const bool centred = column == kMobile || column == kAddress;
    return QVariant::fromValue(
        Qt::Alignment(centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter));
}

}  // namespace

ResultListModel::ResultListModel(QObject* parent) : QAbstractTableModel(parent) {}

QString ResultListModel::column_title(int column) {
    if (column < 0 || column >= kRecordFields) {
        return {};
    }
    const std::string_view name = kRecordColumnNames[static_cast<std::size_t>(column)];
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

int ResultListModel::column_width(int column) {
    return column >= 0 && column < kColumns ? kWidths[static_cast<std::size_t>(column)] : 0;
}

int ResultListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ResultListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumns) {
        return {};
    }
    if (role == Qt::TextAlignmentRole) {
        return column_alignment(index.column());
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
        return {};
    }
    if (index.column() >= kRecordFields) {
        return QString();
    }
    const auto fields = unpack(rows_[static_cast<std::size_t>(index.row())]);
    const std::string_view field = fields[static_cast<std::size_t>(index.column())];
    return QString::fromUtf8(field.data(), static_cast<qsizetype>(field.size()));
}

QVariant ResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return column_title(section);
    }
    if (role == Qt::TextAlignmentRole) {
        return column_alignment(section);
    }
    return {};
}

std::string ResultListModel::pack(const ContactRecord& record) {
    std::string packed;
    std::size_t size = kRecordFields;
    for (const auto& field : record) {
        size += field.size();
    }
    packed.reserve(size);
    for (int i = 0; i < kRecordFields; ++i) {
        if (i > 0) {
            packed += '\0';
        }
        // A zero byte inside a value would split it; it cannot come from the
        // pages (their text ends at the first zero byte) or the database.
        const std::string& field = record[static_cast<std::size_t>(i)];
        packed.append(field.data(), std::min(field.find('\0'), field.size()));
    }
    return packed;
}

void ResultListModel::grow_to(int last_row) {
    const int old_count = rowCount();
    if (last_row < old_count) {
        return;
    }
    beginInsertRows(QModelIndex(), old_count, last_row);
    rows_.resize(static_cast<std::size_t>(last_row) + 1, std::string(kRecordFields - 1, '\0'));
    endInsertRows();
}

void ResultListModel::put_records(int first_row, std::vector<ContactRecord> records) {
    if (records.empty() || first_row < 0) {
        return;
    }
    const int old_count = rowCount();
    const int last_row = first_row + static_cast<int>(records.size()) - 1;
    grow_to(last_row);
    for (std::size_t i = 0; i < records.size(); ++i) {
        rows_[static_cast<std::size_t>(first_row) + i] = pack(records[i]);
    }
    // Only rows that were there before can be on show with other contents.
    if (first_row < old_count) {
        emit dataChanged(index(first_row, 0),
                         index(std::min(last_row, old_count - 1), kColumns - 1));
    }
}

void ResultListModel::apply_cells(const std::vector<Cell>& cells) {
    if (cells.empty()) {
        return;
    }
    int last_row = -1;
    int first_changed = rowCount();
    for (const Cell& cell : cells) {
        last_row = std::max(last_row, cell.row);
        first_changed = std::min(first_changed, cell.row);
    }
    const int old_count = rowCount();
    grow_to(last_row);
    // A row's cells arrive one after the other: each run of them unpacks and
    // packs the row once.
    int open_row = -1;
    ContactRecord record;
    const auto pack_open_row = [&] {
        if (open_row >= 0) {
            rows_[static_cast<std::size_t>(open_row)] = pack(record);
        }
    };
    for (const Cell& cell : cells) {
        if (cell.row < 0 || cell.field < 0 || cell.field >= kRecordFields) {
            continue;
        }
        if (cell.row != open_row) {
            pack_open_row();
            open_row = cell.row;
            record = this->record(cell.row);
        }
        record[static_cast<std::size_t>(cell.field)] = cell.value;
    }
    pack_open_row();
    if (first_changed < old_count) {
        emit dataChanged(index(first_changed, 0),
                         index(std::min(last_row, old_count - 1), kColumns - 1));
    }
}

ContactRecord ResultListModel::record(int row) const {
    ContactRecord record;
    if (row < 0 || row >= rowCount()) {
        return record;
    }
    const auto fields = unpack(rows_[static_cast<std::size_t>(row)]);
    for (int i = 0; i < kRecordFields; ++i) {
        record[static_cast<std::size_t>(i)] = std::string(fields[static_cast<std::size_t>(i)]);
    }
    return record;
}

std::string ResultListModel::cell_text(int row, int field) const {
    if (row < 0 || row >= rowCount() || field < 0 || field >= kRecordFields) {
        return {};
    }
    return std::string(
        unpack(rows_[static_cast<std::size_t>(row)])[static_cast<std::size_t>(field)]);
}

}  // namespace qinglan
