#pragma once

// Code-page conversion over iconv, and the conversions at the program's edges:
// keywords arrive as UTF-8 and leave for the request as GBK; records leave the
// engine as GBK and reach the database, the windows and the workbook as UTF-8.

#include <string>
#include <string_view>

#include "services/text.h"

namespace qinglan {

// The bytes converted between two iconv character sets, or empty bytes on any
// failure: an unknown charset name, a sequence invalid in the source or not
// writable in the target, an incomplete sequence at the end. Never a partial
// result.
Bytes convert_charset(std::string_view bytes, const char* from_charset, const char* to_charset);

// GBK text (decoded as GB18030, its superset) to UTF-8. A byte that does not
// decode becomes U+FFFD, so a value is never dropped for one bad byte.
std::string gbk_to_utf8(std::string_view gbk);

// UTF-8 to GB18030 bytes: GBK for every character GBK has, a four-byte
// sequence for the others. A byte that is not valid UTF-8 becomes "?".
Text utf8_to_gbk(std::string_view utf8);

// A keyword typed in UTF-8 as the GBK (code page 936) bytes the marketplace's
// search reads. A keyword with a character GBK lacks (an emoji, U+202E, most
// scripts other than Chinese) has no such bytes: it must not be searched at
// all, since any stand-in would search for something else. False then, with
// `*refusal` naming the first such character by its code point ("U+1F600").
bool keyword_to_gbk(std::string_view utf8, Text* gbk, std::string* refusal);

// GBK text of a UTF-8 literal, for the system's own fixed texts.
Text gbk(std::string_view utf8);

}  // namespace qinglan
