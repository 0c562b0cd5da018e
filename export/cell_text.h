#pragma once

// Turns a record value into text that a workbook cell can hold and that
// spreadsheet programs read back as exactly the same value.
//
// The workbook is XML, which cannot carry every string: a raw CR is read
// back as LF, other control characters are not allowed at all, and invalid
// UTF-8 or U+FFFE/U+FFFF makes Excel reject the whole workbook, not just
// the cell. The format has its own escape for characters, "_xHHHH_", which
// Excel, LibreOffice and openpyxl turn back into the character. The rules:
//   - the control characters U+0001 to U+001F other than tab and LF, CR
//     included, are written as "_xHHHH_", so they come back as stored;
//   - a literal "_xHHHH_" (H a hex digit) is written as "_x005F_xHHHH_",
//     because a reader would otherwise show "_x0041_" as "A";
//   - what cannot be carried at all becomes U+FFFD (a NUL, which readers
//     take for the end of the text; an invalid UTF-8 sequence, one per
//     maximal invalid subpart as the Unicode standard recommends; U+FFFE
//     and U+FFFF), and the value counts as replaced;
//   - a value longer than a cell holds is cut at a character boundary where
//     the cell is full, and counts as cut.
// Everything else, tabs and LFs included, is kept byte for byte.

#include <cstddef>
#include <string>

namespace qinglan {

// The most a cell can hold, in UTF-16 code units as Excel counts. The
// writing library counts characters of the escaped text against the same
// figure, so a value whose escapes make it longer is cut sooner.
inline constexpr std::size_t kMaxCellLength = 32767;

// What became of a value on its way into a cell.
struct CellChanges {
    bool replaced = false;  // something became U+FFFD
    bool cut = false;       // the end did not fit
};

// Returns `value` itself when it can be written as it is, otherwise the
// rewritten text in `*buffer`; `*changes` says what was lost, if anything.
const std::string& prepare_cell_text(const std::string& value, std::string* buffer,
                                     CellChanges* changes);

}  // namespace qinglan
