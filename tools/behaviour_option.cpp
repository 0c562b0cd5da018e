#include "tools/behaviour_option.h"

#include <charconv>
#include <vector>

namespace qinglan {
namespace {

bool parse_int(std::string_view text, int low, int high, int* number) {
    int value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || failure != std::errc() || end != text.data() + text.size() || value < low ||
        value > high) {
        return false;
    }
    *number = value;
    return true;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

// One WHAT of the option onto `behaviour`; false when it is not one.
bool apply(std::string_view what, Behaviour* behaviour) {
    const std::vector<std::string_view> part = split(what, ':');
    const std::string_view name = part[0];
    if (part.size() == 1) {
        if (name == "endless") {
            behaviour->endless = true;
            return true;
        }
        if (name == "never") {
            behaviour->never_answer = true;
            return true;
        }
        return false;
    }
    if (part.size() == 2 && name == "delay") {
        return parse_milliseconds(part[1], &behaviour->delay_ms);
    }
    if (part.size() == 2 && name == "status") {
        return parse_int(part[1], 100, 599, &behaviour->status);
    }
    if (part.size() == 3 && name == "trickle") {
        return parse_int(part[1], 1, 1 << 20, &behaviour->chunk_bytes) &&
               parse_milliseconds(part[2], &behaviour->chunk_delay_ms) &&
               behaviour->chunk_delay_ms > 0;
    }
    if (part.size() == 2 && name == "blocked") {
        return parse_int(part[1], 1, 1000000, &behaviour->block_times);
    }
    if (part.size() == 3 && name == "fail") {
        return parse_int(part[1], 1, 1000000, &behaviour->fail_times) &&
               parse_int(part[2], 100, 599, &behaviour->fail_status);
    }
    return false;
}

}  // namespace

bool parse_milliseconds(std::string_view text, int* ms) {
    return parse_int(text, 0, 3600 * 1000, ms);
}

bool parse_behaviour_option(std::string_view text, std::string* key, Behaviour* behaviour,
                            std::string* error) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos || eq == 0) {
        *error = "'" + std::string(text) + "' is not KEY=BEHAVIOUR";
        return false;
    }
    Behaviour parsed;
    for (const std::string_view what : split(text.substr(eq + 1), ',')) {
        if (!apply(what, &parsed)) {
            *error = "'" + std::string(what) + "' is not a behaviour (endless, never, delay:MS, " +
                     "trickle:BYTES:MS, status:CODE, fail:TIMES:CODE, blocked:TIMES)";
            return false;
        }
    }
    *key = std::string(text.substr(0, eq));
    *behaviour = std::move(parsed);
    return true;
}

}  // namespace qinglan
