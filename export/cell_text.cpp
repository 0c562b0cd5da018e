#include "export/cell_text.h"

#include <string_view>

#include "services/utf8.h"

namespace qinglan {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD
// Written before a literal "_xHHHH_": "_x005F_" is the escaped underscore.
constexpr std::string_view kUnderscoreEscape = "_x005F";

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Whether the underscore at `at` starts something a reader would take for an
// escaped character. Readers differ on the case of the x; escaping both is
// harmless, since "_x005F_" always reads as "_".
bool starts_escape(const std::string& value, std::size_t at) {
    if (at + 7 > value.size() || (value[at + 1] != 'x' && value[at + 1] != 'X') ||
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

}  // namespace

const std::string& prepare_cell_text(const std::string& value, std::string* buffer,
                                     std::size_t* length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
    const std::size_t size = value.size();

    // Most values are plain ASCII and go out untouched without a copy.
    std::size_t at = 0;
    while (at < size && bytes[at] >= 0x20 && bytes[at] < 0x80 && bytes[at] != '_') {
        ++at;
    }
    if (at == size) {
        *length = size;
        return value;
    }

    std::size_t units = at;
    std::size_t copied = 0;  // value[0, copied) is in *buffer once anything changed
    bool changed = false;
    auto replace = [&](std::size_t from, std::size_t to, std::string_view with) {
        if (!changed) {
            buffer->clear();
            buffer->reserve(size + 16);
            changed = true;
        }
        buffer->append(value, copied, from - copied);
        buffer->append(with);
        copied = to;
    };

    while (at < size) {
        const unsigned char byte = bytes[at];
        if (byte >= 0x20 && byte < 0x80) {
            if (byte == '_' && starts_escape(value, at)) {
                replace(at, at, kUnderscoreEscape);
            }
            ++units, ++at;
        } else if (byte < 0x20) {
            if (byte == '\t' || byte == '\n') {
                ++units;
            } else if (byte == '\r' && at + 1 < size && bytes[at + 1] == '\n') {
                replace(at, at + 1, {});  // the LF that follows is the line break
            } else if (byte == '\r') {
                replace(at, at + 1, "\n");
                ++units;
            } else {
                replace(at, at + 1, kReplacementCharacter);
                ++units;
            }
            ++at;
        } else {
            char32_t code_point = 0;
            const std::size_t taken = decode_utf8(value, at, &code_point);
            if (code_point == kIllFormedUtf8 || code_point == 0xFFFE || code_point == 0xFFFF) {
                replace(at, at + taken, kReplacementCharacter);
            }
            units += code_point >= 0x10000 && code_point <= 0x10FFFF ? 2 : 1;
            at += taken;
        }
    }
    *length = units;
    if (!changed) {
        return value;
    }
    buffer->append(value, copied, std::string::npos);
    return *buffer;
}

}  // namespace qinglan
