#pragma once

// The text of a fetched page as the engine scans and parses it: GBK. A page
// that declares UTF-8 (its Content-Type, or a <meta> near its start when the
// Content-Type names no charset) is converted to GB18030, so that it yields
// the same accounts and records as the same page sent in GBK. Every other
// page is used as the bytes that arrived. A zero byte ends neither the page
// nor a value in it: the text is the whole body, and the values cut from it
// leave their zero bytes out.

#include <string_view>

#include "services/text.h"

namespace qinglan {

bool declares_utf8(std::string_view body, std::string_view content_type);

Text page_text(std::string_view body, std::string_view content_type);

// The text of the page's first <title> element (any letter case), blanks
// around it removed; empty when the page has none in its first 64 KiB.
Text page_title(std::string_view text);

}  // namespace qinglan
