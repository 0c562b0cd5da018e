#pragma once

// Reading UTF-8 one character at a time, for the places that must know where
// characters start and which they are (a cell's length, a terminal's columns).

#include <cstddef>
#include <string_view>

namespace qinglan {

// What decode_utf8 gives for an ill-formed sequence: above every character.
inline constexpr char32_t kIllFormedUtf8 = 0x110000;

// Decodes the sequence that starts at `at` (before the end of `text`).
// Returns its length and sets `*code_point`; for an ill-formed sequence
// returns the length of its maximal invalid subpart (as the Unicode standard
// defines it, at least 1) and sets `*code_point` to kIllFormedUtf8. Overlong
// forms, surrogates and values above U+10FFFF are ill-formed.
inline std::size_t decode_utf8(std::string_view text, std::size_t at, char32_t* code_point) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        *code_point = lead;
        return 1;
    }
    std::size_t needed = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1, value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2, value = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3, value = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        *code_point = kIllFormedUtf8;
        return 1;
    }
    for (std::size_t k = 1; k <= needed; ++k) {
        const bool in_range = at + k < text.size() && byte(k) >= (k == 1 ? low : 0x80) &&
                              byte(k) <= (k == 1 ? high : 0xBF);
        if (!in_range) {
            *code_point = kIllFormedUtf8;
            return k;
        }
        value = (value << 6) | (byte(k) & 0x3Fu);
    }
    *code_point = value;
    return needed + 1;
}

// Where the first ill-formed sequence of `text` starts (0-based), or
// std::string_view::npos when the whole text is well-formed UTF-8.
inline std::size_t ill_formed_utf8_at(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        char32_t code_point = 0;
        const std::size_t length = decode_utf8(text, at, &code_point);
        if (code_point == kIllFormedUtf8) {
            return at;
        }
        at += length;
    }
    return std::string_view::npos;
}

}  // namespace qinglan
