#pragma once

// Extraction of a contact record from a member's card (a JSON text that is
// never parsed as JSON: each field is cut out with a pattern) and from the
// title of the member's contact page. Escapes inside values stay as they
// stand. Missing keys, and empty or failed documents, give empty fields.
// Documents are read to their end, zero bytes and all; a value (the title
// the mobile number is cut from included) leaves its zero bytes out, and
// keeps every other byte as the document has it.

#include <string_view>

#include "engine/site/site.h"
#include "services/contact_record.h"
#include "services/text.h"

namespace qinglan {

// The 27 three-digit mobile prefixes in the order that decides between two
// numbers in one title.
TextList load_mobile_prefixes();

// The mobile number in the contact page's title: 11 bytes from the first
// occurrence of the first prefix (in list order) that occurs, accepted only
// when they are all ASCII digits; fewer when the title ends sooner.
Text extract_mobile(std::string_view contact_page, const TextList& prefixes);

// The card's web site: what stands before the first "]" in the 200 bytes
// that begin 12 bytes after "homePage".
Text extract_website(std::string_view card);

// "先生" (GBK) for a sex value of exactly "m", "女士" for anything else.
Text form_of_address(std::string_view sex);

// The twelve fields, in GBK as the documents have them.
ContactRecord extract_contact_record(std::string_view card, std::string_view contact_page,
                                     const TextList& prefixes, const CellSink& on_cell = {});

}  // namespace qinglan
