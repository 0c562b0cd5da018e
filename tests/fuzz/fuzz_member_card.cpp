// The whole extraction of a record from a member's card and contact page.
// The input is the card, a zero byte, then the contact page; both end at a
// zero byte, as texts made from fetched bodies do.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/member_card_parser.h"
#include "fuzz_support.h"
#include "services/charset.h"
#include "services/text.h"
#include "storage/contact_record.h"

namespace {

using qinglan::Text;
using qinglan::fuzz::check;

bool all_digits(std::string_view s) {
    for (const char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

bool starts_with_prefix(std::string_view mobile, const qinglan::TextList& prefixes) {
    for (const Text& prefix : prefixes) {
        if (mobile.substr(0, prefix.size()) == prefix) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const qinglan::TextList prefixes = qinglan::load_mobile_prefixes();
    static const Text mister = qinglan::gbk("先生");
    static const Text madam = qinglan::gbk("女士");

    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const Text card = qinglan::bytes_to_text(input);
    const Text contact =
        card.size() < input.size() ? qinglan::bytes_to_text(input.substr(card.size() + 1)) : Text();

    // The cells must arrive one per field, in column order, each with the
    // value the record ends up holding.
    int next_field = 0;
    qinglan::ContactRecord reported;
    const qinglan::ContactRecord record = qinglan::extract_contact_record(
        card, contact, prefixes, [&](int field, const Text& value) {
            check(field == next_field);
            reported[static_cast<std::size_t>(field)] = value;
            ++next_field;
        });
    check(next_field == qinglan::kRecordFields);
    check(reported == record);

    const Text& address = record[qinglan::kFormOfAddress];
    check(address == mister || address == madam);

    // A mobile number is one of the prefixes and up to eight more digits,
    // cut from the contact page.
    const Text& mobile = record[qinglan::kMobile];
    if (!mobile.empty()) {
        check(mobile.size() >= 3 && mobile.size() <= 11 && all_digits(mobile));
        check(starts_with_prefix(mobile, prefixes));
        check(qinglan::fuzz::contains(contact, mobile));
    }

    for (int field = 0; field < qinglan::kRecordFields; ++field) {
        if (field == qinglan::kFormOfAddress || field == qinglan::kMobile) {
            continue;
        }
        const Text& value = record[static_cast<std::size_t>(field)];
        check(qinglan::fuzz::contains(card, value));
    }
    // The site is cut from a 200-byte window and ends before a "]" that
    // starts a character.
    const Text& website = record[qinglan::kWebsite];
    check(website.size() < 200 && !qinglan::fuzz::walk_meets(website, ']'));
    return 0;
}
