#pragma once

// Writes contact rows to a new .xlsx workbook with one worksheet: the twelve
// headings in row 1 (A1 to L1), list row w in sheet row w + 1, record field
// j in column j + 1. Every cell of those rows, headings included, carries the
// built-in text format "@" (number format 49) and holds a string, so texts
// such as "=SUM(A1)", "00123", "1e5" or "+1" stay texts in any spreadsheet.
// An empty value is a blank cell that still carries the text format, so what
// is typed into it later is text too. Values are made fit for the file by
// prepare_cell_text (export/cell_text.h).
//
// The workbook is written beside `path` under a temporary name, read back
// (see WorkbookCheck) and renamed into place only when complete (see
// ReplacingFile): on failure no file is left behind and a file already at
// `path` is untouched. Failures come back as false with a reason in
// `error`: the folder cannot be written, the disk is full, a text is longer
// than a cell can hold (the cell is named; texts are never cut short), a row
// could not be read, or the list has more rows than a worksheet.

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "export/row_source.h"
#include "storage/contact_record.h"

namespace qinglan {

// Row 1 of the worksheet. C1 reads 用户账户 although the field is 用户账号.
inline constexpr std::array<std::string_view, kRecordFields> kExportHeadings = {
    "公司名称", "联系人", "用户账户", "部门", "职位", "称呼",
    "电话",     "传真",   "移动电话", "地址", "邮编", "网站",
};

// A worksheet has 1,048,576 rows, the first taken by the headings.
inline constexpr std::size_t kMaxExportRows = 1048575;

// Called after each row with the rows handed on so far and the row count
// taken at the start, then, while the workbook is being finished (for a
// large list that takes a while), again every 50 ms or so with written ==
// total. It may run the caller's event loop; the export goes on whatever
// happens to the caller's windows meanwhile.
using ExportProgress = std::function<void(std::size_t written, std::size_t total)>;

// Writes the rows of `rows` (the count taken once, at the start) to a
// workbook at `path`, replacing a file of that name. `progress` may be empty.
// The rows are read and `progress` is called on the calling thread only;
// the library formats and compresses on a thread of its own meanwhile.
bool export_xlsx(const std::string& path, RowSource& rows, const ExportProgress& progress,
                 std::string* error);

}  // namespace qinglan
