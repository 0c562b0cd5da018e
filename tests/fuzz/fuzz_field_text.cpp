// The text a site profile makes of what its patterns cut from a page: a
// field's cleaning, the JSON test of the page and the block title rule.
// Layout: a flags byte (bit 0: the text comes from a JSON page), the length
// of the keyword (one byte), the keyword, then the text, which serves as the
// field's group, the page and the title at once.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/site/field_text.h"
#include "fuzz_support.h"

namespace {

using qinglan::fuzz::check;

bool blank_at_an_end(std::string_view text) {
    for (const std::string_view blank : {" ", "\t", "\r", "\n", "\xC2\xA0", "\xE3\x80\x80"}) {
        if (text.size() >= blank.size() && (text.substr(0, blank.size()) == blank ||
                                            text.substr(text.size() - blank.size()) == blank)) {
            return true;
        }
    }
    return false;
}

void check_field(std::string_view group, bool json) {
    const std::string field = qinglan::clean_field_text(group, json);
    check(field.find('\0') == std::string::npos);
    check(!blank_at_an_end(field));
    // Every escape, tag and reference is at least as long as what it gives.
    check(field.size() <= group.size());
    // What is decoded is whole characters, and tags end at ASCII bytes, so
    // UTF-8 text stays UTF-8.
    check(!qinglan::fuzz::valid_utf8(group) || qinglan::fuzz::valid_utf8(field));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qinglan::fuzz::FuzzInput input(data, size);
    const bool json = (input.byte() & 1) != 0;
    const std::size_t keyword_size = input.byte();
    const std::string_view keyword = input.take(keyword_size);
    const std::string_view text = input.rest();

    check_field(text, json);
    qinglan::is_json_page(text);
    // Cutting the keyword out leaves parts of the title: it can hide a word
    // but never make one.
    check(!qinglan::title_asks_to_verify(text, keyword) || qinglan::title_asks_to_verify(text, ""));
    return 0;
}
