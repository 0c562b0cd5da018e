#include "engine/page_text.h"

#include <string>

#include "services/charset.h"
#include "services/text.h"

namespace qinglan {
namespace {

// How far into a page a <meta> declaring its charset is looked for: HTML
// wants the declaration within the first 1024 bytes, and browsers look no
// further.
constexpr std::size_t kMetaWindow = 1024;

enum class Charset { kNone, kUtf8, kOther };

// The charset named after "charset=" at `at` (lower-case text), if any.
Charset charset_at(std::string_view lower, std::size_t at) {
    std::size_t i = at + 8;  // "charset="
    while (i < lower.size() && (lower[i] == '"' || lower[i] == '\'' || lower[i] == ' ')) {
        ++i;
    }
    const std::string_view name = lower.substr(i);
    if (name.substr(0, 5) == "utf-8" || name.substr(0, 4) == "utf8") {
        return Charset::kUtf8;
    }
    return name.empty() ? Charset::kNone : Charset::kOther;
}

Charset header_charset(std::string_view content_type) {
    const std::string lower = lower_ascii(content_type);
    const std::size_t at = lower.find("charset=");
    return at == std::string::npos ? Charset::kNone : charset_at(lower, at);
}

Charset meta_charset(std::string_view body) {
    const std::string head = lower_ascii(body.substr(0, kMetaWindow));
    for (std::size_t tag = head.find("<meta"); tag != std::string::npos;
         tag = head.find("<meta", tag + 5)) {
        const std::size_t end = head.find('>', tag);
        const std::string_view element =
            std::string_view(head).substr(tag, end == std::string::npos ? end : end - tag);
        const std::size_t at = element.find("charset=");
        if (at != std::string_view::npos) {
            return charset_at(element, at);
        }
    }
    return Charset::kNone;
}

}  // namespace

bool declares_utf8(std::string_view body, std::string_view content_type) {
    const Charset declared = header_charset(content_type);
    if (declared != Charset::kNone) {
        return declared == Charset::kUtf8;
    }
    return meta_charset(body) == Charset::kUtf8;
}

Text page_text(std::string_view body, std::string_view content_type) {
    if (!declares_utf8(body, content_type)) {
        return Text(body);
    }
    return utf8_to_gbk(body);
}

Text page_title(std::string_view text) {
    const std::string head = lower_ascii(text.substr(0, 64 * 1024));
    const std::size_t open = head.find("<title");
    const std::size_t start = open == std::string::npos ? open : head.find('>', open);
    const std::size_t end = start == std::string::npos ? start : head.find("</title", start);
    if (end == std::string::npos) {
        return {};
    }
    std::string_view title = text.substr(start + 1, end - start - 1);
    const auto first = title.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    title = title.substr(first, title.find_last_not_of(" \t\r\n") - first + 1);
    return drop_zero_bytes(title);
}

}  // namespace qinglan
