#pragma once

// Cutting the member accounts out of a company search page.

#include <string_view>

#include "services/text.h"

namespace qinglan {

// The accounts of the page in page order, duplicates kept. Each account
// follows a "companyId=" mark after one skipped byte and ends before the
// first double quote within 50 bytes; a mark without such a quote, or with
// the quote first, gives no account. The first search starts at byte 2 and
// each next one a byte after the previous mark, so overlapping marks count.
// The page is read to its end, zero bytes and all; an account leaves its
// zero bytes out.
TextList scan_member_accounts(std::string_view page_text);

}  // namespace qinglan
