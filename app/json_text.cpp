#include "app/json_text.h"

#include <cstdio>

#include "services/utf8.h"

namespace qinglan {

std::string json_string(std::string_view text) {
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        const std::size_t length = decode_utf8(text, at, &c);
        if (c == kIllFormedUtf8) {
            json += "\xEF\xBF\xBD";
            at += length;
            continue;
        }
        switch (c) {
            case '"':
                json += "\\\"";
                break;
            case '\\':
                json += "\\\\";
                break;
            case '\n':
                json += "\\n";
                break;
            case '\r':
                json += "\\r";
                break;
            case '\t':
                json += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) {
                    char escaped[16];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    json += escaped;
                } else {
                    json.append(text.substr(at, length));
                }
        }
        at += length;
    }
    return json + "\"";
}

}  // namespace qinglan
