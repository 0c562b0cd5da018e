// The charset detection and the page text made from a fetched body. The
// input's first line is the Content-Type the server sent; the rest is the
// body.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/page_text.h"
#include "fuzz_support.h"
#include "services/charset.h"
#include "services/text.h"

namespace {

using qinglan::Text;
using qinglan::fuzz::check;

// HTML wants a charset <meta> within a page's first 1024 bytes, and the
// detection, like browsers, looks no further: nothing after them may change
// its answer.
constexpr std::size_t kMetaWindow = 1024;

std::string upper_ascii(std::string_view s) {
    std::string upper(s);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return upper;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t line_end = std::min(input.find('\n'), input.size());
    const std::string_view content_type = input.substr(0, line_end);
    const std::string_view body = input.substr(std::min(line_end + 1, input.size()));

    const Text text(body);
    const bool utf8 = qinglan::declares_utf8(text, content_type);
    const Text page = qinglan::page_text(body, content_type);

    // The whole body, zero bytes and all: a zero byte ends nothing.
    check(page == (utf8 ? qinglan::utf8_to_gbk(text) : text));
    check(std::count(page.begin(), page.end(), '\0') == std::count(body.begin(), body.end(), '\0'));
    // A title is a value: it never holds a zero byte.
    check(qinglan::page_title(page).find('\0') == Text::npos);

    // The detection ignores letter case and reads only the start of a body.
    check(qinglan::declares_utf8(upper_ascii(text), upper_ascii(content_type)) == utf8);
    check(qinglan::declares_utf8(std::string_view(text).substr(0, kMetaWindow), content_type) ==
          utf8);
    // A charset in the Content-Type decides without the body.
    if (qinglan::declares_utf8({}, content_type)) {
        check(utf8);
    }
    return 0;
}
