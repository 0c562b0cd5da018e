#pragma once

// GBK text primitives. A text is a std::string of GBK (code page 936) bytes
// holding no zero byte; its length is its byte count and positions are 1-based
// byte positions. Bytes are a std::string that may hold zero bytes. No function
// here fails: out-of-range positions and counts give the empty text, -1 or 0.
//
// find_text walks the text character by character: a byte of 0x80 or above
// starts a two-byte character and is stepped over with the byte after it, so a
// match only ever starts on a character boundary. Every other function counts
// plain bytes and may cut a character in half.

#include <string>
#include <string_view>
#include <vector>

namespace qinglan {

using Text = std::string;
using Bytes = std::string;
using TextList = std::vector<Text>;

int text_length(std::string_view text);

// The first min(n, length) bytes; n of 0 or less gives the empty text.
Text left_text(std::string_view text, int n);

// Up to n bytes from position start. A start below 1 or beyond the length, or
// an n of 0 or less, gives the empty text.
Text mid_text(std::string_view text, int start, int n);

// Position of the first occurrence of sought that begins at or after start, or
// -1. A start below 1 counts as 1.
int find_text(std::string_view text, std::string_view sought, int start = 1);

// The text with the ASCII letters in lower case; every other byte, those of
// GBK characters included, as it is.
Text lower_ascii(std::string_view text);

// One byte the same way: an ASCII letter in lower case, any other byte as it is.
constexpr char lower_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when text begins with prefix, ASCII letters compared without case.
bool starts_ignoring_case(std::string_view text, std::string_view prefix);

// The text with length bytes from start removed and the replacement put in
// their place. The place is clamped into the text, so a start beyond the end
// appends.
Text replace_range(std::string_view text, int start, int length, std::string_view replacement = {});

// The byte at position as a signed value (-128 to 127); 0 outside the text.
int char_code(std::string_view text, int position = 1);

// The bytes up to the first zero byte; no code-page conversion.
Text bytes_to_text(std::string_view bytes);
// The bytes without their zero bytes, every other byte as it is: a value cut
// from a page, which may hold any byte, as a text.
Text drop_zero_bytes(std::string_view bytes);

// Upper-case hexadecimal digits without leading zeros, as printf "%X".
Text hex_text(int value);

}  // namespace qinglan
