#pragma once

// The sheets of an exported file as readers that are not the writer see
// them (tests/export/read_back.py: openpyxl for a workbook, Python's csv
// module for a CSV file).

#include <string>
#include <vector>

#include "tests/app/child_process.h"

namespace qinglan {

struct ReadSheet {
    std::string name;                            // empty for a CSV file
    std::vector<std::vector<std::string>> rows;  // a blank cell is ""
};

inline bool openpyxl_present() {
    Child probe({"/usr/bin/python3", "-c", "import openpyxl"});
    return probe.wait() == 0;
}

// False with the reader's complaint in `error`.
inline bool read_back(const std::string& path, std::vector<ReadSheet>* sheets, std::string* error) {
    Child python({"/usr/bin/python3", QINGLAN_TEST_SOURCE "/export/read_back.py", path});
    if (python.wait() != 0) {
        *error = python.errors();
        return false;
    }
    auto decode = [](const std::string& hex) {
        std::string text;
        if (hex == "-") {
            return text;
        }
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        }
        return text;
    };
    sheets->clear();
    const std::string& out = python.output();
    for (std::size_t at = 0; at < out.size();) {
        std::size_t end = out.find('\n', at);
        end = end == std::string::npos ? out.size() : end;
        const std::string line = out.substr(at, end - at);
        at = end + 1;
        if (line.rfind("SHEET ", 0) == 0) {
            sheets->push_back({decode(line.substr(6)), {}});
            continue;
        }
        if (sheets->empty()) {
            *error = "a row before any sheet";
            return false;
        }
        std::vector<std::string> row;
        for (std::size_t from = 0; from <= line.size();) {
            std::size_t space = line.find(' ', from);
            space = space == std::string::npos ? line.size() : space;
            row.push_back(decode(line.substr(from, space - from)));
            from = space + 1;
        }
        sheets->back().rows.push_back(std::move(row));
    }
    return true;
}

}  // namespace qinglan
