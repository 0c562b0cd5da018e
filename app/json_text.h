#pragma once

// JSON output for the command line: strings quoted and escaped so that any
// keyword, reason or profile name (controls, quotes, backslashes, invalid
// UTF-8 from a server) stays one valid JSON value on one line.

#include <string>
#include <string_view>

namespace qinglan {

// `text` as a JSON string with its quotes. Controls, quotes and
// backslashes are escaped, U+2028 and U+2029 too (a JavaScript reader
// takes them as line ends); each ill-formed UTF-8 sequence becomes U+FFFD.
std::string json_string(std::string_view text);

}  // namespace qinglan
