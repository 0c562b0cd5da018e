#pragma once

// The windows' side of the text edges: the engine and the database speak
// UTF-8 in std::string, the windows QString.

#include <QString>

#include <string>

namespace qinglan {

inline QString from_utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace qinglan
