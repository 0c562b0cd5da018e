#include "export/export_format.h"

#include "export/csv_writer.h"
#include "export/workbook_writer.h"
#include "services/text.h"

namespace qinglan {
namespace {

std::unique_ptr<TableSink> start_workbook(const std::string& file,
                                          const std::string& temporary_folder,
                                          const std::vector<std::string>& sheet_names,
                                          std::string* error) {
    auto workbook = std::make_unique<WorkbookWriter>();
    if (!workbook->start(file, temporary_folder, sheet_names, error)) {
        return nullptr;
    }
    return workbook;
}

std::unique_ptr<TableSink> start_csv(const std::string& file, const std::string&,
                                     const std::vector<std::string>&, std::string* error) {
    auto csv = std::make_unique<CsvWriter>();
    if (!csv->start(file, error)) {
        return nullptr;
    }
    return csv;
}

bool ends_with_extension(const std::string& path, std::string_view extension) {
    if (path.size() < extension.size() + 1 || path[path.size() - extension.size() - 1] != '.') {
        return false;
    }
    const std::size_t from = path.size() - extension.size();
    for (std::size_t i = 0; i < extension.size(); ++i) {
        if (lower_ascii(path[from + i]) != extension[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

const std::vector<ExportFormat>& export_formats() {
    static const std::vector<ExportFormat> formats = {
        {"xlsx", "Excel 工作簿 (*.xlsx)", false, &start_workbook},
        {"csv", "CSV 文件 (*.csv)", true, &start_csv},
    };
    return formats;
}

const ExportFormat& export_format(const std::string& path) {
    const std::vector<ExportFormat>& formats = export_formats();
    for (const ExportFormat& format : formats) {
        if (ends_with_extension(path, format.extension)) {
            return format;
        }
    }
    return formats.front();
}

std::string export_filters() {
    std::string filters;
    for (const ExportFormat& format : export_formats()) {
        filters += (filters.empty() ? "" : ";;") + std::string(format.filter);
    }
    return filters;
}

}  // namespace qinglan
