#pragma once

// What the fuzz targets share: cutting parameters out of the fuzzer's bytes,
// a check that stops the run, and the GBK character walk written out the
// plain way, one step at a time, so that the optimised primitives can be held
// against it (the text tests hold find_text against the same walk). Nothing
// here allocates more than its result.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace qinglan::fuzz {

// A broken invariant must reach libFuzzer as a crash, so that it keeps the
// input; an assert would vanish under NDEBUG.
inline void check(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

// Reads the fuzzer's bytes front to back. Reading past the end gives zeros
// and empty views, so every input is a valid one.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : bytes_(reinterpret_cast<const char*>(data), size) {}

    std::uint8_t byte() {
        if (bytes_.empty()) {
            return 0;
        }
        const auto b = static_cast<std::uint8_t>(bytes_.front());
        bytes_.remove_prefix(1);
        return b;
    }

    std::uint16_t u16() {
        const std::uint16_t low = byte();
        return static_cast<std::uint16_t>(low | (byte() << 8));
    }

    std::uint32_t u32() {
        const std::uint32_t low = u16();
        return low | (static_cast<std::uint32_t>(u16()) << 16);
    }

    std::string_view take(std::size_t n) {
        const std::string_view part = bytes_.substr(0, n);
        bytes_.remove_prefix(part.size());
        return part;
    }

    std::string_view rest() { return take(bytes_.size()); }

private:
    std::string_view bytes_;
};

// Above this many byte comparisons the plain walks below are too slow to run
// on every input; the targets then check only what they can state cheaply.
inline constexpr std::size_t kWalkBudget = std::size_t{1} << 22;

inline bool within_walk_budget(std::size_t text_size, std::size_t sought_size) {
    return sought_size == 0 || text_size <= kWalkBudget / sought_size;
}

// Substring test in linear time, so that the checks on a large input stay
// cheaper than the code they check.
inline bool contains(std::string_view haystack, std::string_view needle) {
    return needle.empty() ||
           memmem(haystack.data(), haystack.size(), needle.data(), needle.size()) != nullptr;
}

inline bool is_lead(char c) {
    return static_cast<unsigned char>(c) >= 0x80;
}

inline bool stands_at(std::string_view text, std::size_t place, std::string_view sought) {
    if (place > text.size() || text.size() - place < sought.size()) {
        return false;
    }
    for (std::size_t i = 0; i < sought.size(); ++i) {
        const char a = text[place + i];
        const char b = sought[i];
        if (a != b) {
            return false;
        }
    }
    return true;
}

// True when walking characters from `begin` lands on `place`.
inline bool on_boundary(std::string_view text, std::size_t begin, std::size_t place) {
    std::size_t at = begin;
    while (at < place) {
        at += is_lead(text[at]) ? 2 : 1;
    }
    return at == place;
}

// True when some character of the walk from the text's first byte starts
// with byte `c`.
inline bool walk_meets(std::string_view text, char c) {
    for (std::size_t at = 0; at < text.size(); at += is_lead(text[at]) ? 2 : 1) {
        if (text[at] == c) {
            return true;
        }
    }
    return false;
}

// The search a 1-based `start` and a character walk make, compared at every
// step.
inline int walk_find(std::string_view text, std::string_view sought, int start = 1) {
    const std::size_t begin = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (begin >= text.size()) {
        return -1;
    }
    if (sought.empty()) {
        return 1;
    }
    for (std::size_t at = begin; at + sought.size() <= text.size();
         at += is_lead(text[at]) ? 2 : 1) {
        if (stands_at(text, at, sought)) {
            return static_cast<int>(at + 1);
        }
    }
    return -1;
}

// Well-formed UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
inline bool valid_utf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        std::size_t len = 0;
        std::uint32_t cp = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
            cp = b & 0x1Fu;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            cp = b & 0x0Fu;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            cp = b & 0x07u;
        } else {
            return false;
        }
        if (n - i < len) {
            return false;
        }
        for (std::size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0u) != 0x80u) {
                return false;
            }
            cp = (cp << 6) | (p[i + k] & 0x3Fu);
        }
        const std::uint32_t shortest = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (cp < shortest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += len;
    }
    return true;
}

}  // namespace qinglan::fuzz
