#pragma once

// The file formats an export can write, each with what the rest of the
// program needs to know of it: the file name's extension, the entry of the
// save dialog's list of types, whether a file holds one table only, and the
// writer that makes it. A new format is one more entry in export_formats().

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "export/table_sink.h"

namespace qinglan {

// Starts a format's writer on `file` (which exists and is truncated);
// `temporary_folder` takes what the writer keeps aside meanwhile.
using StartSink = std::unique_ptr<TableSink> (*)(const std::string& file,
                                                 const std::string& temporary_folder,
                                                 const std::vector<std::string>& sheet_names,
                                                 std::string* error);

struct ExportFormat {
    std::string_view extension;  // without the dot, in lower case
    std::string_view filter;     // as a save dialog lists it
    bool one_table = false;      // several keywords go into it only merged
    StartSink start = nullptr;

    // Whether a file of this format can hold `keywords` keywords, merged
    // into one table or each in a sheet of its own.
    bool holds(std::size_t keywords, bool merge) const {
        return !one_table || merge || keywords <= 1;
    }
};

// The formats, the default one (a workbook) first.
const std::vector<ExportFormat>& export_formats();

// The format whose extension `path` ends in (".csv" in any case), otherwise
// the default one.
const ExportFormat& export_format(const std::string& path);

// The save dialog's list of types: every format's filter, joined by ";;".
std::string export_filters();

}  // namespace qinglan
