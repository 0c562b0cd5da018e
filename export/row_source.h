#pragma once

// What an export reads its rows from. The exporter asks for the count once,
// before the first row, and then for rows 0 to count - 1 in order, so a list
// that keeps growing while it is exported (a collection still running) gives
// exactly the rows it held when the export began.

#include <cstddef>

#include "services/contact_record.h"

namespace qinglan {

class RowSource {
public:
    virtual ~RowSource() = default;

    virtual std::size_t row_count() = 0;

    // Fills `out` with row `index` (0-based, below the count). `out` is the
    // same record on every call, so a source can reuse its strings' storage.
    // False when the row cannot be had; the export then fails.
    virtual bool row(std::size_t index, ContactRecord* out) = 0;
};

}  // namespace qinglan
