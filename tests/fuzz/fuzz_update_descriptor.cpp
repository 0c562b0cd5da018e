// The update descriptor's fields, and text_between with marks of its own.
// Layout: the lengths of the left and the right mark (one byte each), the
// two marks, then the descriptor, which ends at a zero byte as a fetched
// text does.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "services/charset.h"
#include "services/text.h"
#include "update/update_check.h"

namespace {

using qinglan::Text;
using qinglan::fuzz::check;
using qinglan::fuzz::walk_find;

// What text_between gives, with the searches made by a character walk.
Text walked_between(std::string_view text, std::string_view left, std::string_view right) {
    const int p = walk_find(text, left);
    if (p == -1) {
        return {};
    }
    const std::size_t from = static_cast<std::size_t>(p) - 1 + left.size();
    const std::string_view rest = from < text.size() ? text.substr(from) : std::string_view();
    const int q = walk_find(rest, right);
    return q > 1 ? Text(rest.substr(0, static_cast<std::size_t>(q) - 1)) : Text();
}

void check_between(std::string_view text, std::string_view left, std::string_view right,
                   const Text& value) {
    check(qinglan::fuzz::contains(text, value));
    // The value ends at the first right mark that starts a character, so
    // none stands at a character's start inside it.
    if (right.size() == 1) {
        check(!qinglan::fuzz::walk_meets(value, right[0]));
    }
    if (qinglan::fuzz::within_walk_budget(text.size(), left.size() + right.size())) {
        check(value == walked_between(text, left, right));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Text version_label = qinglan::gbk("版本:");
    static const Text address_label = qinglan::gbk("更新地址:");
    static const Text description_label = qinglan::gbk("版本说明:");
    static const Text manual_label = qinglan::gbk("手动下载:");

    qinglan::fuzz::FuzzInput input(data, size);
    const std::size_t left_size = input.byte();
    const std::size_t right_size = input.byte();
    const std::string_view left = input.take(left_size);
    const std::string_view right = input.take(right_size);
    const Text text = qinglan::bytes_to_text(input.rest());

    const qinglan::UpdateDescriptor descriptor = qinglan::parse_update_descriptor(text);
    check_between(text, version_label, "|", descriptor.version);
    check_between(text, address_label, "|", descriptor.update_address);
    check_between(text, description_label, "|", descriptor.description);
    check_between(text, manual_label, "|", descriptor.manual_download);

    check_between(text, left, right, qinglan::text_between(text, left, right));
    return 0;
}
