#pragma once

// Writes the stored rows of one or more keywords to a new .xlsx workbook or,
// for a name ending in ".csv", a CSV file.
//
// Workbook: one worksheet per keyword, named after it (see SheetNames), the
// twelve headings in row 1 (A1 to L1), list row w in sheet row w + 1, record
// field j in column j + 1. Every cell of those rows, headings included,
// carries the built-in text format "@" (number format 49) and holds a
// string, so texts such as "=SUM(A1)", "00123", "1e5" or "+1" stay texts in
// any spreadsheet; an empty value is a blank cell that still carries it.
// Values come back exactly as stored, within what a cell holds (see
// export/cell_text.h); what it cost is in the report.
//
// Merged: a single table whose first column, 关键词, names the keyword a
// row came from, then the twelve fields; a member account already written
// leaves out the later rows with it (rows without an account are all kept).
//
// CSV: the same table as a worksheet (see CsvWriter); several keywords only
// merged, since a CSV file holds one table (see ExportFormat).
//
// The file is written beside `path` under a temporary name, checked and
// renamed into place only when complete (see ReplacingFile): on failure no
// file is left behind and a file already at `path` is untouched. Failures
// come back as false with a reason in `error`: the folder cannot be
// written, the disk is full, a row could not be read, or a keyword has more
// rows than a worksheet.

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "export/export_format.h"
#include "export/row_source.h"
#include "export/table_sink.h"
#include "services/contact_record.h"

namespace qinglan {

// Row 1 of the worksheet. C1 reads 用户账户 although the field is 用户账号.
inline constexpr std::array<std::string_view, kRecordFields> kExportHeadings = {
    "公司名称", "联系人", "用户账户", "部门", "职位", "称呼",
    "电话",     "传真",   "移动电话", "地址", "邮编", "网站",
};
// The heading of a merged table's first column, and the name of its sheet.
inline constexpr std::string_view kKeywordHeading = "关键词";
inline constexpr std::string_view kMergedSheetName = "合并";

// A worksheet has 1,048,576 rows, the first taken by the headings.
inline constexpr std::size_t kMaxExportRows = 1048575;

// One keyword to export and where its rows come from; the count is taken
// once per keyword, when the export begins.
struct ExportKeyword {
    std::string keyword;
    RowSource* rows = nullptr;
};

// What was written.
struct ExportReport {
    std::vector<std::string> sheet_names;  // of a workbook, in order
    std::size_t rows = 0;                  // below the headings, in all
    std::size_t duplicates = 0;            // rows a merge left out
    CellLosses losses;
};

// Called after each row with the rows handed on so far and the rows there
// are in all, then, while the file is being finished (for a large list that
// takes a while), again every 50 ms or so with written == total; it should
// return quickly. Returning false stops the export: nothing is written, a
// file at the chosen name stays as it was.
using ExportProgress = std::function<bool(std::size_t written, std::size_t total)>;

// The rows are read and `progress` (which may be empty) is called on the
// calling thread only; a workbook is formatted and compressed on a thread of
// its own meanwhile.
bool export_keywords(const std::string& path, const std::vector<ExportKeyword>& keywords,
                     bool merge, const ExportProgress& progress, ExportReport* report,
                     std::string* error);

}  // namespace qinglan
