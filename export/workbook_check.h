#pragma once

// Reads a freshly written .xlsx back and confirms it is whole.
//
// libxlsxwriter assembles every part of the workbook in temporary files
// whose writes it never checks: on a full disk it zips whatever reached
// them and reports success, leaving a workbook that Excel calls corrupt.
// So the result is read back before it may take the chosen name, with
// libzip: the archive must pass its consistency checks, every part must
// inflate to the CRC the archive records, every XML part must end with the
// close of its root element, and worksheet k must hold the expected number
// of rows.

#include <cstddef>
#include <string>
#include <vector>

namespace qinglan {

// False with the reason in `error` unless `path` is a whole workbook whose
// worksheets hold exactly `sheet_rows` rows, the first sheet first.
bool check_workbook(const std::string& path, const std::vector<std::size_t>& sheet_rows,
                    std::string* error);

}  // namespace qinglan
