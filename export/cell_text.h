#pragma once

// Turns a record value into text that a workbook cell can hold and that
// spreadsheet programs read back as the same value.
//
// The workbook is XML and libxlsxwriter writes the bytes it is given, but
// XML 1.0 cannot carry every string: invalid UTF-8 or U+FFFE/U+FFFF makes
// Excel reject the whole workbook, not just the cell. Control characters
// could only travel as "_xHHHH_" escapes, which Excel turns back into
// invisible characters and other readers show as the escape itself; in a
// contact field they are debris from the page. Values come from scraped
// pages, so all of these do turn up. The rules:
//   - an invalid UTF-8 sequence becomes U+FFFD (one per maximal invalid
//     subpart, as the Unicode standard recommends), as an undecodable byte
//     does everywhere else in the program;
//   - CR LF and a lone CR become LF, the line break of a cell;
//   - other control characters except tab and LF, and U+FFFE and U+FFFF,
//     become U+FFFD, visible and the same in every reader;
//   - a literal "_xHHHH_" (H a hex digit) is written as "_x005F_xHHHH_",
//     because the format reads "_xHHHH_" as an escaped character and would
//     otherwise show "_x0041_" as "A".
// Everything else, tabs and LFs included, is kept byte for byte.

#include <cstddef>
#include <string>

namespace qinglan {

// The most a cell can hold, in UTF-16 code units as Excel counts.
inline constexpr std::size_t kMaxCellLength = 32767;

// Returns `value` itself when it can be written as it is, otherwise the
// rewritten text in `*buffer`. `*length` receives the length of the text a
// spreadsheet shows (after undoing the escapes), in UTF-16 code units.
const std::string& prepare_cell_text(const std::string& value, std::string* buffer,
                                     std::size_t* length);

}  // namespace qinglan
