#pragma once

// Where an export puts its tables: a workbook (WorkbookWriter) or a CSV file
// (CsvWriter). The exporter hands over one sheet after another, each as its
// rows of cells, the heading row first; the sink makes each value fit its
// format and counts what that cost.
//
// Failures come back as false with a reason; once a sink has failed it takes
// no more rows.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qinglan {

// What making the values fit cost, for the user to hear of.
struct CellLosses {
    std::size_t replaced_cells = 0;           // cells in which something became U+FFFD
    std::size_t cut_cells = 0;                // cells cut at the most a cell holds
    std::vector<std::string> cut_cell_names;  // the first few, as "SHEET!E3"
};

// The names kept in CellLosses::cut_cell_names; the rest are only counted.
inline constexpr std::size_t kNamedCutCells = 20;

class TableSink {
public:
    virtual ~TableSink() = default;

    // The sheet `index` (0-based, in the order of the names given at the
    // start) takes the rows from now on.
    virtual void begin_sheet(std::size_t index) = 0;

    // Sets cell `column` of the row being filled.
    virtual void set_cell(std::size_t column, const std::string& value) = 0;

    // The row being filled, of `columns` cells, is complete. False once the
    // sink failed.
    virtual bool end_row(std::size_t columns) = 0;

    // No more rows: completes the file. `waiting` is called every 50 ms or
    // so while that takes time.
    virtual bool finish(const std::function<void()>& waiting, std::string* error) = 0;

    virtual const CellLosses& losses() const = 0;
};

}  // namespace qinglan
