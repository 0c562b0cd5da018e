#pragma once

// Texts as a terminal shows them: what a keyword may hold must not move the
// cursor, ring the bell, break a line or split a tab-separated column.

#include <string>
#include <string_view>

namespace qinglan {

// A UTF-8 keyword as a label of exactly `columns` terminal columns: control
// characters shown as "?", wide (CJK) characters counted as two columns, cut
// with "..." when longer and padded with blanks when shorter, so that the live
// progress lines stay one screen line each and line up.
std::string terminal_label(std::string_view text, int columns);

// A text for one line of a terminal or a tab-separated list: a backslash
// and every control character written as an escape (\\, \t, \n, \r,
// \xHH for other bytes below 0x20, DEL and bytes that are not UTF-8, \uHHHH
// for the C1 controls), so that nothing typed as a keyword can move the
// cursor, ring the bell or split a column.
std::string escape_controls(std::string_view text);

}  // namespace qinglan
