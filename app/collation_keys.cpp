#include "app/collation_keys.h"

#include <QLocale>

#include <algorithm>

namespace qinglan {

CollationKeys::CollationKeys() : collator_(QLocale(QLocale::Chinese, QLocale::China)) {}

void CollationKeys::prepare(int field, std::size_t rows) {
    auto& column = keys_[static_cast<std::size_t>(field)];
    if (column.size() < rows) {
        column.resize(rows);
    }
}

const QCollatorSortKey& CollationKeys::key(int row, int field, std::string_view text) {
    std::optional<QCollatorSortKey>& cached =
        keys_[static_cast<std::size_t>(field)][static_cast<std::size_t>(row)];
    if (!cached) {
        cached =
            collator_.sortKey(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }
    return *cached;
}

void CollationKeys::forget(int first_row, int last_row) {
    for (auto& column : keys_) {
        const auto end = std::min(static_cast<std::size_t>(last_row) + 1, column.size());
        for (auto row = static_cast<std::size_t>(std::max(first_row, 0)); row < end; ++row) {
            column[row].reset();
        }
    }
}

void CollationKeys::clear() {
    for (auto& column : keys_) {
        column.clear();
    }
}

}  // namespace qinglan
