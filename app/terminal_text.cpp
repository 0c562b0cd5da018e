#include "app/terminal_text.h"

#include <algorithm>
#include <vector>

#include "services/utf8.h"

namespace qinglan {
namespace {

// Terminal columns of a character: 0 for a control character, 2 for the
// East Asian wide and fullwidth blocks and the emoji, 1 otherwise.
int columns_of(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
        return 0;
    }
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

}  // namespace

std::string terminal_label(std::string_view text, int columns) {
    struct Glyph {
        std::string_view shown;
        int columns;
    };
    std::vector<Glyph> glyphs;
    int total = 0;
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        const std::size_t length = decode_utf8(text, at, &c);
        const bool printable = c != kIllFormedUtf8 && columns_of(c) > 0;
        // A control character shows as one "?", a broken sequence as one per byte.
        glyphs.push_back(printable ? Glyph{text.substr(at, length), columns_of(c)} : Glyph{"?", 1});
        at += c == kIllFormedUtf8 ? 1 : length;
        total += glyphs.back().columns;
        if (total > columns) {
            break;  // too long already: the rest is cut anyway
        }
    }
    static constexpr std::string_view kCut = "...";
    const bool cut = total > columns;
    const int room = cut ? columns - static_cast<int>(kCut.size()) : columns;
    std::string label;
    int used = 0;
    for (const Glyph& glyph : glyphs) {
        if (used + glyph.columns > room) {
            break;
        }
        label.append(glyph.shown);
        used += glyph.columns;
    }
    if (cut && room >= 0) {
        label.append(kCut);
        used += static_cast<int>(kCut.size());
    }
    label.append(static_cast<std::size_t>(std::max(columns - used, 0)), ' ');
    return label;
}

std::string escape_controls(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string escaped;
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        const std::size_t length = decode_utf8(text, at, &c);
        const auto byte = static_cast<unsigned char>(text[at]);
        if (c == kIllFormedUtf8 || c < 0x20 || c == 0x7F) {
            const char* named = byte == '\t'   ? "\\t"
                                : byte == '\n' ? "\\n"
                                : byte == '\r' ? "\\r"
                                               : nullptr;
            if (named != nullptr) {
                escaped += named;
            } else {
                escaped += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 15]};
            }
            at += 1;
            continue;
        }
        if (c >= 0x80 && c < 0xA0) {
            escaped += {'\\', 'u', '0', '0', kDigits[c >> 4], kDigits[c & 15]};
        } else if (c == '\\') {
            escaped += "\\\\";
        } else {
            escaped.append(text.substr(at, length));
        }
        at += length;
    }
    return escaped;
}

}  // namespace qinglan
