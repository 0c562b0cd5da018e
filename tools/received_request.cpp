#include "tools/received_request.h"

#include <algorithm>
#include <cstddef>

#include "services/text.h"

namespace qinglan {
namespace {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && starts_ignoring_case(a, b);
}

bool is_token_char(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7f &&
           std::string_view("()<>@,;:\\\"/[]?={}").find(c) == std::string_view::npos;
}

bool is_token(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), is_token_char);
}

// The target may hold any visible byte, including bytes of 0x80 and above
// that careless clients send unencoded; controls and blanks end it.
bool is_target(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u != 0x7f;
    });
}

bool is_version(std::string_view text) {
    return text.size() == 8 && text.substr(0, 5) == "HTTP/" && text[5] >= '0' && text[5] <= '9' &&
           text[6] == '.' && text[7] >= '0' && text[7] <= '9';
}

std::string_view trim_blanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Splits off the next line (without its CR LF or LF) from `rest`.
std::string_view next_line(std::string_view& rest) {
    const auto end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

bool parse_request_line(std::string_view line, ReceivedRequest& request) {
    const auto first_space = line.find(' ');
    if (first_space == std::string_view::npos) {
        request.target = line;
        return false;
    }
    request.method = line.substr(0, first_space);
    const std::string_view rest = line.substr(first_space + 1);
    const auto second_space = rest.find(' ');
    request.target = rest.substr(0, second_space);
    if (second_space == std::string_view::npos) {
        return false;
    }
    request.version = rest.substr(second_space + 1);
    return is_token(request.method) && is_target(request.target) && is_version(request.version);
}

}  // namespace

std::string ReceivedRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (equal_ignoring_case(key, name)) {
            return value;
        }
    }
    return {};
}

int ReceivedRequest::header_count(std::string_view name) const {
    return static_cast<int>(std::count_if(headers.begin(), headers.end(), [&](const auto& header) {
        return equal_ignoring_case(header.first, name);
    }));
}

bool parse_request_head(std::string_view head, ReceivedRequest& request) {
    std::string_view rest = head;
    if (!parse_request_line(next_line(rest), request)) {
        return false;
    }
    while (!rest.empty()) {
        const std::string_view line = next_line(rest);
        if (line.empty()) {
            continue;
        }
        const auto colon = line.find(':');
        // Folded continuation lines are obsolete and a classic smuggling
        // vector; like most servers, refuse them.
        if (colon == std::string_view::npos || !is_token(line.substr(0, colon))) {
            return false;
        }
        request.headers.emplace_back(line.substr(0, colon), trim_blanks(line.substr(colon + 1)));
    }
    request.host = request.header("Host");
    return true;
}

}  // namespace qinglan
