// Code-page conversion and the GB18030/UTF-8 edges. The first byte picks the
// source (low half) and target (high half) character sets; the rest is
// converted, and also taken as GBK and as UTF-8 by the edge conversions.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "services/charset.h"

namespace {

using qinglan::Bytes;
using qinglan::fuzz::check;
using qinglan::fuzz::valid_utf8;

constexpr std::array<const char*, 7> kCharsets = {
    "GB2312", "GBK", "GB18030", "UTF-8", "UTF-16LE", "ASCII", "NO-SUCH-CHARSET",
};
constexpr std::string_view kUnknown = "NO-SUCH-CHARSET";

// glibc decodes these four-byte GB18030 codes to characters that also have
// a two-byte code, and encodes those characters as the two-byte code. They
// are the only codes that do not come back as they were (every code checked
// against glibc 2.36).
struct Alias {
    std::string_view four;
    std::string_view two;
};
constexpr std::array<Alias, 6> kAliases = {{
    {"\x95\x32\x90\x31", "\xFE\x51"},
    {"\x95\x32\x90\x33", "\xFE\x52"},
    {"\x95\x32\x97\x30", "\xFE\x53"},
    {"\x95\x36\xB9\x37", "\xFE\x6C"},
    {"\x96\x30\xBA\x35", "\xFE\x76"},
    {"\x96\x35\xB6\x30", "\xFE\x91"},
}};

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A GB18030 text, every character of which decodes, with each aliased code
// in the form the encoder writes.
std::string canonical_gb18030(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t length = 1;
        if (static_cast<unsigned char>(text[at]) >= 0x80) {
            length = at + 1 < text.size() && is_digit(text[at + 1]) ? 4 : 2;
        }
        const std::string_view code = text.substr(at, length);
        std::string_view written = code;
        for (const Alias& alias : kAliases) {
            if (code == alias.four) {
                written = alias.two;
            }
        }
        out += written;
        at += length;
    }
    return out;
}

void check_conversion(std::string_view bytes, const char* from, const char* to) {
    const Bytes out = qinglan::convert_charset(bytes, from, to);
    if (std::string_view(from) == kUnknown || std::string_view(to) == kUnknown) {
        check(out.empty());
        return;
    }
    const std::string_view target = to;
    if (target == from) {
        // A conversion into its own character set checks and copies (writing
        // GB18030's aliased codes the encoder's way); it is also the one
        // place where glibc lets UTF-8 beyond U+10FFFF through.
        check(out.empty() ||
              out == (target == "GB18030" ? canonical_gb18030(bytes) : Bytes(bytes)));
    } else if (target == "UTF-8") {
        check(valid_utf8(out));
    } else if (target == "UTF-16LE") {
        check(out.size() % 2 == 0);
    } else if (target == "ASCII") {
        for (const char c : out) {
            check(static_cast<unsigned char>(c) < 0x80);
        }
    }
    if (bytes.empty()) {
        check(out.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qinglan::fuzz::FuzzInput input(data, size);
    const std::uint8_t pick = input.byte();
    const std::string_view bytes = input.rest();

    check_conversion(bytes, kCharsets[(pick & 0x0F) % kCharsets.size()],
                     kCharsets[(pick >> 4) % kCharsets.size()]);

    // The keyword check: a GB2312 text comes back as it is, anything else as
    // nothing.
    const Bytes same = qinglan::convert_charset(bytes, "GB2312", "GB2312");
    check(same.empty() || same == bytes);

    // A keyword to search: GBK bytes that decode to exactly the keyword, or
    // a refusal naming the character GBK lacks (or the byte that is not
    // UTF-8). Never a stand-in, never nothing for something.
    qinglan::Text keyword;
    std::string refusal;
    if (qinglan::keyword_to_gbk(bytes, &keyword, &refusal)) {
        check(valid_utf8(bytes));
        check(keyword.empty() == bytes.empty());
        check(qinglan::convert_charset(keyword, "GBK", "UTF-8") == bytes);
    } else {
        const bool named = refusal.substr(0, 2) == "U+";
        check(named || refusal.find("not UTF-8") != std::string::npos);
        check(named || !valid_utf8(bytes));
    }

    // The edges never fail: every byte that does not decode still leaves a
    // mark in well-formed UTF-8.
    const std::string utf8 = qinglan::gbk_to_utf8(bytes);
    check(valid_utf8(utf8));
    check(bytes.empty() == utf8.empty());
    const qinglan::Text back = qinglan::utf8_to_gbk(utf8);
    check(qinglan::gbk_to_utf8(back) == utf8);

    // What decodes as GB18030 throughout comes back byte for byte, but for
    // the aliased codes.
    const Bytes decoded = qinglan::convert_charset(bytes, "GB18030", "UTF-8");
    if (!decoded.empty()) {
        check(decoded == utf8);
        check(back == canonical_gb18030(bytes));
    }

    // The other way round: what encodes throughout comes back exactly. A
    // few private-use characters glibc cannot encode, and the edge writes
    // "?" for each of their bytes.
    const qinglan::Text gbk = qinglan::utf8_to_gbk(bytes);
    check(bytes.empty() == gbk.empty());
    const Bytes encoded = qinglan::convert_charset(bytes, "UTF-8", "GB18030");
    if (!encoded.empty()) {
        check(valid_utf8(bytes));
        check(encoded == gbk);
        check(qinglan::gbk_to_utf8(gbk) == bytes);
    }
    return 0;
}
