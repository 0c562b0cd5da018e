#include "engine/member_card_parser.h"

#include <array>

#include "services/charset.h"
#include "services/pattern.h"

namespace qinglan {
namespace {

// The card patterns of the fields they fill. Each takes the first match in
// the card: the leftmost opening literal, and the lazy group up to the first
// closing literal after it. The contact name's pattern wants a "," before
// its key and a key beginning with "m" after its value; the account's has no
// quote before its key.
struct CardPattern {
    int field;
    std::string_view text;
};
constexpr std::array<CardPattern, 10> kCardPatterns = {{
    {kCompanyName, R"re("name":"(.*?)",")re"},
    {kContactName, R"re(","name":"(.*?)","m)re"},
    {kAccount, R"re(memberId":"(.*?)",")re"},
    {kDepartment, R"re("department":"(.*?)",")re"},
    {kPosition, R"re("title":"(.*?)",")re"},
    {kFormOfAddress, R"re("sex":"(.*?)",")re"},
    {kTelephone, R"re("telephone":"(.*?)",")re"},
    {kFax, R"re("fax":"(.*?)",")re"},
    {kAddress, R"re("address":"(.*?)",")re"},
    {kPostalCode, R"re("zipCode":"(.*?)",")re"},
}};
constexpr std::string_view kTitlePattern = "<title>(.*?)</title>";
// The group every pattern above holds between its two literals.
constexpr std::string_view kLazyGroup = "(.*?)";

// A mainland mobile number: 11 ASCII digits.
constexpr int kMobileLength = 11;

// The website stands in the card as "homePage":"[address]": the address
// starts after the key and the four bytes `":"[`, and ends before the first
// "]" within the window; a "]" further on gives no address.
constexpr std::string_view kWebsiteKey = "homePage";
constexpr int kWebsiteOffset = static_cast<int>(kWebsiteKey.size()) + 4;
constexpr int kWebsiteWindow = 200;

// Compiled once and shared: matching only reads a compiled pattern, so the
// workers of all tasks can use them at the same time.
struct CompiledPatterns {
    std::array<Pattern, kCardPatterns.size()> card;
    Pattern title;

    CompiledPatterns() {
        for (std::size_t i = 0; i < kCardPatterns.size(); ++i) {
            regex_compile(card[i], kCardPatterns[i].text);
        }
        regex_compile(title, kTitlePattern);
    }
};

const CompiledPatterns& patterns() {
    static const CompiledPatterns compiled;
    return compiled;
}

// Every pattern is an opening literal, the lazy group and a closing literal.
// When the closing literal does not follow the first opening one, nothing
// can match: a search would only learn that by running from every later
// opening to the end of the text, which on a document full of unclosed keys
// takes time that grows with the square of its length.
bool can_match(std::string_view pattern_text, std::string_view text) {
    const std::size_t group = pattern_text.find(kLazyGroup);
    const std::string_view open = pattern_text.substr(0, group);
    const std::string_view close = pattern_text.substr(group + kLazyGroup.size());
    const std::size_t at = text.find(open);
    return at != std::string_view::npos &&
           text.find(close, at + open.size()) != std::string_view::npos;
}

Text first_group(const Pattern& pattern, std::string_view pattern_text, std::string_view text) {
    if (!can_match(pattern_text, text)) {
        return {};
    }
    return drop_zero_bytes(submatch_text(regex_search(pattern, text), text, 1));
}

bool all_ascii_digits(std::string_view text) {
    for (int i = 1; i <= text_length(text); ++i) {
        const int code = char_code(text, i);
        if (code < '0' || code > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

TextList load_mobile_prefixes() {
    return {"130", "131", "132", "133", "134", "135", "136", "137", "138",
            "139", "147", "150", "151", "152", "153", "155", "156", "157",
            "158", "159", "180", "182", "185", "186", "187", "188", "189"};
}

Text extract_mobile(std::string_view contact_page, const TextList& prefixes) {
    const Text title = first_group(patterns().title, kTitlePattern, contact_page);
    for (const Text& prefix : prefixes) {
        const int position = find_text(title, prefix);
        if (position == -1) {
            continue;
        }
        Text candidate = mid_text(title, position, kMobileLength);
        return all_ascii_digits(candidate) ? candidate : Text();
    }
    return {};
}

Text extract_website(std::string_view card) {
    const int key = find_text(card, kWebsiteKey);
    if (key == -1) {
        return {};
    }
    const Text window = mid_text(card, key + kWebsiteOffset, kWebsiteWindow);
    return drop_zero_bytes(left_text(window, find_text(window, "]") - 1));
}

Text form_of_address(std::string_view sex) {
    static const Text mister = gbk("先生");
    static const Text madam = gbk("女士");
    return sex == "m" ? mister : madam;
}

ContactRecord extract_contact_record(std::string_view card, std::string_view contact_page,
                                     const TextList& prefixes, const CellSink& on_cell) {
    ContactRecord record;
    auto set = [&](int field, Text value) {
        record[static_cast<std::size_t>(field)] = std::move(value);
        if (on_cell) {
            on_cell(field, record[static_cast<std::size_t>(field)]);
        }
    };
    const CompiledPatterns& compiled = patterns();
    // Card fields up to the fax, then the mobile number, then the rest, so
    // that the cells fill in column order.
    for (std::size_t i = 0; i < kCardPatterns.size(); ++i) {
        const int field = kCardPatterns[i].field;
        if (field == kAddress) {
            set(kMobile, extract_mobile(contact_page, prefixes));
        }
        Text value = first_group(compiled.card[i], kCardPatterns[i].text, card);
        set(field, field == kFormOfAddress ? form_of_address(value) : std::move(value));
    }
    set(kWebsite, extract_website(card));
    return record;
}

}  // namespace qinglan
