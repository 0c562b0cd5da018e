#pragma once

// The sort keys of a result list's cells, in the order Chinese users expect
// (a zh_CN collator: pinyin for Chinese, digits and Latin letters as usual,
// case second). A key costs far more to make than to compare, so each
// cell's key is made once, when its column is first sorted, and kept until
// the row's contents change.

#include <QCollator>

#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include "services/contact_record.h"

namespace qinglan {

class CollationKeys {
public:
    CollationKeys();

    // Makes room for the keys of rows 0 to rows - 1 in field `field`: the
    // keys handed out stay in place while those rows are sorted.
    void prepare(int field, std::size_t rows);
    // The key of `text`, the cell of row `row` (below the rows prepared) in
    // field `field`.
    const QCollatorSortKey& key(int row, int field, std::string_view text);
    // Rows first_row to last_row have new contents.
    void forget(int first_row, int last_row);
    void clear();

private:
    QCollator collator_;
    std::array<std::vector<std::optional<QCollatorSortKey>>, kRecordFields> keys_;
};

}  // namespace qinglan
