// The GBK text primitives with positions, counts and flags from the input.
//
// Layout: one flag byte (bit 2 positions over the whole int range rather than
// near the text; bits 0 and 1 are not read, so that the kept corpus keeps its
// meaning), a start and a count of four bytes each, the length of the sought
// text in two bytes, the sought text (also the replacement), and the text
// itself, zero bytes and all.
//
// find_text is held against a character walk that compares at every step; the
// byte-counting primitives against what they promise.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "services/text.h"

namespace {

using qinglan::Text;
using qinglan::fuzz::check;

// Most interesting values lie at the text's ends and just outside them.
int near_text(std::uint32_t raw, std::size_t size) {
    return static_cast<int>(raw % (size + 5)) - 2;
}

// The 0-based place a 1-based start stands for, clamped to 0.
std::size_t place_of(int start) {
    return start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
}

void check_find(std::string_view text, std::string_view sought, int start) {
    const int found = qinglan::find_text(text, sought, start);
    const std::size_t begin = place_of(start);
    if (sought.empty()) {
        // Nothing sought is found at once, wherever the search starts.
        check(found == (begin < text.size() ? 1 : -1));
    } else if (found != -1) {
        check(found >= 1 && static_cast<std::size_t>(found) <= text.size());
        const auto at = static_cast<std::size_t>(found) - 1;
        check(at >= begin && qinglan::fuzz::on_boundary(text, begin, at));
        check(qinglan::fuzz::stands_at(text, at, sought));
    } else if (begin < text.size()) {
        // The place the search starts from is always a character's start.
        check(!qinglan::fuzz::stands_at(text, begin, sought));
    }
    if (qinglan::fuzz::within_walk_budget(text.size() - std::min(begin, text.size()),
                                          sought.size())) {
        check(found == qinglan::fuzz::walk_find(text, sought, start));
    }
}

void check_cuts(std::string_view text, int start, int count, std::string_view replacement) {
    const std::size_t n = text.size();

    const Text left = qinglan::left_text(text, count);
    check(left == text.substr(0, count <= 0 ? 0 : static_cast<std::size_t>(count)));

    const Text mid = qinglan::mid_text(text, start, count);
    if (start < 1 || count <= 0 || static_cast<std::size_t>(start) > n) {
        check(mid.empty());
    } else {
        const std::size_t from = static_cast<std::size_t>(start) - 1;
        check(mid.size() == std::min(static_cast<std::size_t>(count), n - from));
        check(text.compare(from, mid.size(), mid) == 0);
    }

    const Text replaced = qinglan::replace_range(text, start, count, replacement);
    const std::size_t place = std::min(place_of(start), n);
    const std::size_t removed =
        count <= 0 ? 0 : std::min(static_cast<std::size_t>(count), n - place);
    check(replaced.size() == n - removed + replacement.size());
    check(replaced.compare(0, place, text, 0, place) == 0);
    check(replaced.compare(place, replacement.size(), replacement) == 0);
    check(replaced.compare(place + replacement.size(), Text::npos, text, place + removed) == 0);

    const int code = qinglan::char_code(text, start);
    if (start < 1 || static_cast<std::size_t>(start) > n) {
        check(code == 0);
    } else {
        check(code >= -128 && code <= 127);
        check(static_cast<char>(code) == text[static_cast<std::size_t>(start) - 1]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qinglan::fuzz::FuzzInput input(data, size);
    const std::uint8_t flags = input.byte();
    const bool whole_range = (flags & 4) != 0;
    const std::uint32_t raw_start = input.u32();
    const std::uint32_t raw_count = input.u32();
    const std::string_view sought = input.take(input.u16());
    const std::string_view text = input.rest();

    const int start = whole_range ? static_cast<int>(raw_start) : near_text(raw_start, text.size());
    const int count = whole_range ? static_cast<int>(raw_count) : near_text(raw_count, text.size());

    check_find(text, sought, start);
    check_cuts(text, start, count, sought);
    return 0;
}
