#include "export/cell_text.h"

#include <algorithm>
#include <string_view>

#include "services/utf8.h"

namespace qinglan {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD
// Written in place of the underscore of a literal "_xHHHH_".
constexpr std::string_view kUnderscoreEscape = "_x005F_";
constexpr std::size_t kEscapeLength = 7;  // "_xHHHH_"

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Whether the underscore at `at` starts something a reader would take for an
// escaped character. Readers differ on the case of the x; escaping both is
// harmless, since "_x005F_" always reads as "_".
bool starts_escape(const std::string& value, std::size_t at) {
    if (at + kEscapeLength > value.size() || (value[at + 1] != 'x' && value[at + 1] != 'X') ||
        value[at + 6] != '_') {
        return false;
    }
    for (std::size_t k = at + 2; k < at + 6; ++k) {
        if (!is_hex_digit(value[k])) {
            return false;
        }
    }
    return true;
}

// One character of the value as it goes into the cell.
struct Piece {
    std::size_t taken = 1;   // bytes of the value
    std::size_t shown = 1;   // UTF-16 units a spreadsheet shows
    std::size_t points = 1;  // characters written
    bool rewritten = false;
    bool replaced = false;
    std::string_view with;  // what is written instead, when rewritten
};

Piece next_piece(const std::string& value, std::size_t at, char (&escape)[kEscapeLength + 1]) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto byte = static_cast<unsigned char>(value[at]);
    Piece piece;
    if (byte == '_' && starts_escape(value, at)) {
        piece.rewritten = true;
        piece.with = kUnderscoreEscape;
        piece.points = kEscapeLength;
    } else if (byte == 0) {
        piece.rewritten = piece.replaced = true;
        piece.with = kReplacementCharacter;
    } else if (byte < 0x20 && byte != '\t' && byte != '\n') {
        std::string_view("_x00").copy(escape, 4);
        escape[4] = kDigits[byte >> 4];
        escape[5] = kDigits[byte & 15];
        escape[6] = '_';
        piece.rewritten = true;
        piece.with = std::string_view(escape, kEscapeLength);
        piece.points = kEscapeLength;
    } else if (byte >= 0x80) {
        char32_t code_point = 0;
        piece.taken = decode_utf8(value, at, &code_point);
        if (code_point == kIllFormedUtf8 || code_point == 0xFFFE || code_point == 0xFFFF) {
            piece.rewritten = piece.replaced = true;
            piece.with = kReplacementCharacter;
        } else if (code_point >= 0x10000) {
            piece.shown = 2;  // a surrogate pair in UTF-16
        }
    }
    return piece;
}

}  // namespace

const std::string& prepare_cell_text(const std::string& value, std::string* buffer,
                                     CellChanges* changes) {
    *changes = {};
    const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
    const std::size_t size = value.size();

    // Most values are plain ASCII and go out untouched without a copy.
    std::size_t at = 0;
    while (at < size && bytes[at] >= 0x20 && bytes[at] < 0x80 && bytes[at] != '_') {
        ++at;
    }
    if (at == size && size <= kMaxCellLength) {
        return value;
    }

    std::size_t shown = 0, points = 0;
    std::size_t copied = 0;  // value[0, copied) is in *buffer once anything changed
    bool changed = false;
    auto take_up_to = [&](std::size_t end) {
        if (!changed) {
            buffer->clear();
            buffer->reserve(size + 16);
            changed = true;
        }
        buffer->append(value, copied, end - copied);
        copied = end;
    };

    // An ASCII start longer than a cell is cut in the loop.
    at = std::min(at, kMaxCellLength);
    shown = points = at;
    char escape[kEscapeLength + 1] = {};
    while (at < size) {
        const Piece piece = next_piece(value, at, escape);
        if (shown + piece.shown > kMaxCellLength || points + piece.points > kMaxCellLength) {
            changes->cut = true;
            take_up_to(at);
            return *buffer;
        }
        shown += piece.shown;
        points += piece.points;
        if (piece.rewritten) {
            take_up_to(at);
            buffer->append(piece.with);
            copied = at + piece.taken;
            changes->replaced = changes->replaced || piece.replaced;
        }
        at += piece.taken;
    }
    if (!changed) {
        return value;
    }
    take_up_to(size);
    return *buffer;
}

}  // namespace qinglan
