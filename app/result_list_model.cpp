#include "app/result_list_model.h"

#include <algorithm>
#include <array>
#include <functional>
#include <numeric>

#include "services/text.h"

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

constexpr int kRefreshMs = 250;

// Finds a folded needle in a packed row, folding the row's Latin letters as
// it goes; the zero bytes between fields keep a match inside one field.
class RowMatcher {
public:
    explicit RowMatcher(const std::string& needle)
        : searcher_(needle.begin(), needle.end(), Hash{}, Equal{}) {}

    bool matches(const std::string& row) const {
        return std::search(row.begin(), row.end(), searcher_) != row.end();
    }

private:
    struct Hash {
        std::size_t operator()(char c) const { return std::hash<char>()(lower_ascii(c)); }
    };
    struct Equal {
        bool operator()(char a, char b) const { return lower_ascii(a) == lower_ascii(b); }
    };
    std::boyer_moore_horspool_searcher<std::string::const_iterator, Hash, Equal> searcher_;
};

}  // namespace

ResultListModel::ResultListModel(QObject* parent) : QAbstractTableModel(parent) {
    refresh_timer_.setSingleShot(true);
    refresh_timer_.setInterval(kRefreshMs);
    connect(&refresh_timer_, &QTimer::timeout, this, &ResultListModel::refresh);
}

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
    if (parent.isValid()) {
        return 0;
    }
    return static_cast<int>(transformed() ? order_.size() : rows_.size());
}

int ResultListModel::source_row(int shown_row) const {
    if (shown_row < 0 || shown_row >= rowCount()) {
        return -1;
    }
    return transformed() ? order_[static_cast<std::size_t>(shown_row)] : shown_row;
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
    const auto fields = unpack(rows_[static_cast<std::size_t>(source_row(index.row()))]);
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
    const int old_count = total_rows();
    if (last_row < old_count) {
        return;
    }
    const std::string empty_row(kRecordFields - 1, '\0');
    if (transformed()) {
        // Shown at the next refresh, in their place.
        rows_.resize(static_cast<std::size_t>(last_row) + 1, empty_row);
        refresh_timer_.start();
        emit total_rows_changed();
        return;
    }
    beginInsertRows(QModelIndex(), old_count, last_row);
    rows_.resize(static_cast<std::size_t>(last_row) + 1, empty_row);
    endInsertRows();
    emit total_rows_changed();
}

void ResultListModel::rows_changed(int first_row, int last_row) {
    if (first_row > last_row) {
        return;
    }
    if (transformed()) {
        if (!refresh_timer_.isActive()) {
            refresh_timer_.start();
        }
        return;
    }
    emit dataChanged(index(first_row, 0), index(last_row, kColumns - 1));
}

std::vector<int> ResultListModel::shown_order() const {
    std::vector<int> order;
    if (filter_.empty()) {
        order.resize(rows_.size());
        std::iota(order.begin(), order.end(), 0);
    } else {
        const RowMatcher matcher(filter_);
        for (std::size_t row = 0; row < rows_.size(); ++row) {
            if (matcher.matches(rows_[row])) {
                order.push_back(static_cast<int>(row));
            }
        }
    }
    sort_rows(order);
    return order;
}

void ResultListModel::sort_rows(std::vector<int>& order) const {
    if (sort_column_ < 0 || sort_column_ >= kRecordFields) {
        return;
    }
    const auto column = static_cast<std::size_t>(sort_column_);
    std::vector<std::pair<const QCollatorSortKey*, int>> keyed;
    std::vector<int> empty;
    keyed.reserve(order.size());
    keys_.prepare(sort_column_, rows_.size());
    for (const int row : order) {
        const std::string_view cell = unpack(rows_[static_cast<std::size_t>(row)])[column];
        if (cell.empty()) {
            empty.push_back(row);
        } else {
            keyed.emplace_back(&keys_.key(row, sort_column_, cell), row);
        }
    }
    const bool ascending = sort_order_ == Qt::AscendingOrder;
    // Stable, so equal cells keep the order they came in; empty cells go last.
    std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
        const int compared = a.first->compare(*b.first);
        return ascending ? compared < 0 : compared > 0;
    });
    std::size_t i = 0;
    for (const auto& [key, row] : keyed) {
        order[i++] = row;
    }
    for (const int row : empty) {
        order[i++] = row;
    }
}

void ResultListModel::refresh() {
    refresh_timer_.stop();
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<int> sources;
    sources.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& index : before) {
        sources.push_back(source_row(index.row()));
    }
    if (transformed()) {
        order_ = shown_order();
    } else {
        order_ = {};
    }
    QModelIndexList after;
    if (!before.isEmpty()) {
        std::vector<int> shown_at(rows_.size(), -1);
        for (int row = 0; row < rowCount(); ++row) {
            shown_at[static_cast<std::size_t>(source_row(row))] = row;
        }
        for (qsizetype i = 0; i < before.size(); ++i) {
            const int source = sources[static_cast<std::size_t>(i)];
            const int row = source >= 0 ? shown_at[static_cast<std::size_t>(source)] : -1;
            after << (row >= 0 ? index(row, before[i].column()) : QModelIndex());
        }
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

void ResultListModel::sort(int column, Qt::SortOrder order) {
    sort_column_ = column >= 0 && column < kRecordFields ? column : -1;
    sort_order_ = order;
    refresh();
}

void ResultListModel::set_filter(const QString& text) {
    filter_ = lower_ascii(text.toStdString());
    refresh();
}

void ResultListModel::clear() {
    beginResetModel();
    rows_.clear();
    order_.clear();
    keys_.clear();
    endResetModel();
    emit total_rows_changed();
}

void ResultListModel::put_records(int first_row, std::vector<ContactRecord> records) {
    if (records.empty() || first_row < 0) {
        return;
    }
    const int old_count = total_rows();
    const int last_row = first_row + static_cast<int>(records.size()) - 1;
    grow_to(last_row);
    keys_.forget(first_row, last_row);
    for (std::size_t i = 0; i < records.size(); ++i) {
        rows_[static_cast<std::size_t>(first_row) + i] = pack(records[i]);
    }
    // Only rows that were there before can be on show with other contents.
    if (first_row < old_count) {
        rows_changed(first_row, std::min(last_row, old_count - 1));
    }
}

void ResultListModel::apply_cells(const std::vector<Cell>& cells) {
    if (cells.empty()) {
        return;
    }
    int last_row = -1;
    int first_changed = total_rows();
    for (const Cell& cell : cells) {
        last_row = std::max(last_row, cell.row);
        first_changed = std::min(first_changed, cell.row);
    }
    const int old_count = total_rows();
    grow_to(last_row);
    keys_.forget(first_changed, last_row);
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
        rows_changed(first_changed, std::min(last_row, old_count - 1));
    }
}

ContactRecord ResultListModel::record(int row) const {
    ContactRecord record;
    if (row < 0 || row >= total_rows()) {
        return record;
    }
    const auto fields = unpack(rows_[static_cast<std::size_t>(row)]);
    for (int i = 0; i < kRecordFields; ++i) {
        record[static_cast<std::size_t>(i)] = std::string(fields[static_cast<std::size_t>(i)]);
    }
    return record;
}

std::string ResultListModel::cell_text(int row, int field) const {
    if (row < 0 || row >= total_rows() || field < 0 || field >= kRecordFields) {
        return {};
    }
    return std::string(
        unpack(rows_[static_cast<std::size_t>(row)])[static_cast<std::size_t>(field)]);
}

}  // namespace qinglan
