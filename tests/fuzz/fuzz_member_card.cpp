// The whole extraction of a record from a member's card and contact page.
// The input is the card, a zero byte, then the contact page: split at its
// last zero byte, so that the card may hold zero bytes of its own, which end
// neither the card nor a value.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/member_card_parser.h"
#include "fuzz_support.h"
#include "services/charset.h"
#include "services/contact_record.h"
#include "services/text.h"

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

std::size_t find_from(std::string_view text, std::string_view sought, std::size_t from) {
    if (from > text.size()) {
        return std::string_view::npos;
    }
    const void* hit = memmem(text.data() + from, text.size() - from, sought.data(), sought.size());
    return hit == nullptr ? std::string_view::npos
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
}

// What a pattern open(.*?)close finds: "." takes every byte, so the leftmost
// match starts at the first opening or nowhere, and ends at the first closing
// after it.
// A value without the zero bytes it stands across.
Text value_of(std::string_view cut_out) {
    Text value(cut_out);
    std::erase(value, '\0');
    return value;
}

Text cut(std::string_view text, std::string_view open, std::string_view close) {
    const std::size_t at = find_from(text, open, 0);
    if (at == std::string_view::npos) {
        return {};
    }
    const std::size_t from = at + open.size();
    const std::size_t end = find_from(text, close, from);
    return end == std::string_view::npos ? Text() : value_of(text.substr(from, end - from));
}

Text expected_mobile(std::string_view contact, const qinglan::TextList& prefixes) {
    const Text title = cut(contact, "<title>", "</title>");
    for (const Text& prefix : prefixes) {
        const int at = qinglan::fuzz::walk_find(title, prefix);
        if (at != -1) {
            const Text candidate = title.substr(static_cast<std::size_t>(at) - 1, 11);
            return all_digits(candidate) ? candidate : Text();
        }
    }
    return {};
}

Text expected_website(std::string_view card) {
    const int key = qinglan::fuzz::walk_find(card, "homePage");
    if (key == -1 || static_cast<std::size_t>(key) - 1 + 12 >= card.size()) {
        return {};
    }
    const std::size_t from = static_cast<std::size_t>(key) - 1 + 12;
    const std::string_view window = card.substr(from, 200);
    const int end = qinglan::fuzz::walk_find(window, "]");
    return end > 1 ? value_of(window.substr(0, static_cast<std::size_t>(end) - 1)) : Text();
}

// The record written out with plain searches instead of patterns.
qinglan::ContactRecord expected_record(std::string_view card, std::string_view contact,
                                       const qinglan::TextList& prefixes, const Text& mister,
                                       const Text& madam) {
    constexpr std::string_view kEnd = R"(",")";
    qinglan::ContactRecord record;
    record[qinglan::kCompanyName] = cut(card, R"("name":")", kEnd);
    record[qinglan::kContactName] = cut(card, R"(","name":")", R"(","m)");
    record[qinglan::kAccount] = cut(card, R"(memberId":")", kEnd);
    record[qinglan::kDepartment] = cut(card, R"("department":")", kEnd);
    record[qinglan::kPosition] = cut(card, R"("title":")", kEnd);
    record[qinglan::kFormOfAddress] = cut(card, R"("sex":")", kEnd) == "m" ? mister : madam;
    record[qinglan::kTelephone] = cut(card, R"("telephone":")", kEnd);
    record[qinglan::kFax] = cut(card, R"("fax":")", kEnd);
    record[qinglan::kMobile] = expected_mobile(contact, prefixes);
    record[qinglan::kAddress] = cut(card, R"("address":")", kEnd);
    record[qinglan::kPostalCode] = cut(card, R"("zipCode":")", kEnd);
    record[qinglan::kWebsite] = expected_website(card);
    return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const qinglan::TextList prefixes = qinglan::load_mobile_prefixes();
    static const Text mister = qinglan::gbk("先生");
    static const Text madam = qinglan::gbk("女士");

    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = std::min(input.rfind('\0'), input.size());
    const std::string_view card = input.substr(0, split);
    const std::string_view contact = input.substr(std::min(split + 1, input.size()));

    // The cells must arrive one per field, in column order, each with the
    // value the record ends up holding.
    int next_field = 0;
    qinglan::ContactRecord reported;
    const qinglan::ContactRecord record =
        qinglan::extract_contact_record(card, contact, prefixes, [&](int field, const Text& value) {
            check(field == next_field);
            reported[static_cast<std::size_t>(field)] = value;
            ++next_field;
        });
    check(next_field == qinglan::kRecordFields);
    check(reported == record);

    const Text& salutation = record[qinglan::kFormOfAddress];
    check(salutation == mister || salutation == madam);

    // A mobile number is one of the prefixes and up to eight more digits,
    // cut from the contact page.
    const Text& mobile = record[qinglan::kMobile];
    if (!mobile.empty()) {
        check(mobile.size() >= 3 && mobile.size() <= 11 && all_digits(mobile));
        check(starts_with_prefix(mobile, prefixes));
        check(qinglan::fuzz::contains(value_of(contact), mobile));
    }

    // Every value is cut from the card, its zero bytes left out.
    const Text card_text = value_of(card);
    for (int field = 0; field < qinglan::kRecordFields; ++field) {
        const Text& value = record[static_cast<std::size_t>(field)];
        check(value.find('\0') == Text::npos);
        if (field != qinglan::kFormOfAddress && field != qinglan::kMobile) {
            check(qinglan::fuzz::contains(card_text, value));
        }
    }
    // The site is cut from a 200-byte window and ends before a "]" that
    // starts a character (in a card without zero bytes, whose leaving out
    // would move the characters after them).
    const Text& website = record[qinglan::kWebsite];
    check(website.size() < 200);
    if (card_text.size() == card.size()) {
        check(!qinglan::fuzz::walk_meets(website, ']'));
    }

    check(record == expected_record(card, contact, prefixes, mister, madam));
    return 0;
}
