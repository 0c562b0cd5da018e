#pragma once

// The program's way of reporting a failure from a function that returns
// bool: false, with the reason in `*error` when the caller asked for it.

#include <string>

namespace qinglan {

inline bool fail(std::string* error, const std::string& what) {
    if (error != nullptr) {
        *error = what;
    }
    return false;
}

}  // namespace qinglan
