#include "services/text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace qinglan {
namespace {

int clamp_to_int(std::size_t n) {
    return static_cast<int>(std::min<std::size_t>(n, INT32_MAX));
}

// The character walk from `begin` as a search for byte matches that are then
// checked for standing on a character boundary. A byte below 0x80 is never a
// lead byte, so the place after it is always a boundary; a match at q is
// therefore a boundary unless it ends an odd run of bytes of 0x80 and above
// that starts at such a boundary (or at `begin`). The run start found for
// one candidate is reused for the next, so the whole search stays linear.
int find_exact(std::string_view text, std::string_view sought, std::size_t begin) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t from = begin;
    std::size_t run_start = begin;  // start of the high run known to end at run_end
    std::size_t run_end = begin;    // bytes [run_start, run_end) are all 0x80 and above
    while (from + sought.size() <= n) {
        const void* hit = memmem(bytes + from, n - from, sought.data(), sought.size());
        if (hit == nullptr) {
            return -1;
        }
        const auto q = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - bytes);
        // Find the start of the run of high bytes that ends right before q.
        std::size_t s = q;
        while (s > begin && bytes[s - 1] >= 0x80) {
            if (s == run_end && run_end > run_start) {
                s = run_start;
                break;
            }
            --s;
        }
        run_start = s;
        run_end = q;
        if ((q - s) % 2 == 0) {
            return clamp_to_int(q + 1);
        }
        from = q + 1;
    }
    return -1;
}

}  // namespace

int text_length(std::string_view text) {
    return clamp_to_int(text.size());
}

Text left_text(std::string_view text, int n) {
    if (n <= 0) {
        return {};
    }
    return Text(text.substr(0, static_cast<std::size_t>(n)));
}

Text mid_text(std::string_view text, int start, int n) {
    if (start < 1 || n <= 0 || static_cast<std::size_t>(start) > text.size()) {
        return {};
    }
    return Text(text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(n)));
}

int find_text(std::string_view text, std::string_view sought, int start) {
    const std::size_t begin = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (begin >= text.size()) {
        return -1;
    }
    if (sought.empty()) {
        return 1;
    }
    return find_exact(text, sought, begin);
}

Text lower_ascii(std::string_view text) {
    Text lower(text);
    for (char& c : lower) {
        c = lower_ascii(c);
    }
    return lower;
}

bool starts_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return lower_ascii(a) == lower_ascii(b); });
}

Text replace_range(std::string_view text, int start, int length, std::string_view replacement) {
    const std::size_t place =
        start < 1 ? 0 : std::min(static_cast<std::size_t>(start) - 1, text.size());
    std::size_t removed = 0;
    if (length > 0) {
        removed = std::min(static_cast<std::size_t>(length), text.size() - place);
    }
    Text result;
    result.reserve(text.size() - removed + replacement.size());
    result.append(text.substr(0, place));
    result.append(replacement);
    result.append(text.substr(place + removed));
    return result;
}

int char_code(std::string_view text, int position) {
    if (position < 1 || static_cast<std::size_t>(position) > text.size()) {
        return 0;
    }
    return static_cast<signed char>(text[static_cast<std::size_t>(position) - 1]);
}

Text bytes_to_text(std::string_view bytes) {
    return Text(bytes.substr(0, std::min(bytes.find('\0'), bytes.size())));
}

Text drop_zero_bytes(std::string_view bytes) {
    Text text(bytes);
    std::erase(text, '\0');
    return text;
}

Text hex_text(int value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%X", static_cast<unsigned>(value));
    return buffer;
}

}  // namespace qinglan
