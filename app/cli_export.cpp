#include "app/cli_export.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/terminal_text.h"
#include "export/temporary_files.h"
#include "export/xlsx_export.h"
#include "storage/sqlite_store.h"

namespace qinglan {
namespace {

// A table's rows held as one block of text and the offsets of the fields,
// about half the memory of a vector of records on a large table.
class PackedRows final : public RowSource {
public:
    void add(const ContactRecord& record) {
        for (const std::string& field : record) {
            starts_.push_back(text_.size());
            text_ += field;
        }
    }

    std::size_t row_count() override { return starts_.size() / kRecordFields; }

    bool row(std::size_t index, ContactRecord* out) override {
        if (index >= row_count()) {
            return false;
        }
        for (std::size_t field = 0; field < kRecordFields; ++field) {
            const std::size_t at = index * kRecordFields + field;
            const std::size_t end = at + 1 < starts_.size() ? starts_[at + 1] : text_.size();
            (*out)[field].assign(text_, starts_[at], end - starts_[at]);
        }
        return true;
    }

private:
    std::string text_;
    std::vector<std::size_t> starts_;
};

}  // namespace

int run_export(const Options& options) {
    if (options.arguments.size() != 2) {
        std::fprintf(stderr, "qinglan: export needs a keyword and a file name\n%s", kUsage);
        return 2;
    }
    const std::string& keyword = options.arguments[0];
    const std::string& file = options.arguments[1];

    std::string error;
    auto store = SqliteStore::open(options.data_dir, &error);
    if (!store) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::string> names;
    if (!store->read_table_names(&names, &error)) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 1;
    }
    if (std::find(names.begin(), names.end(), keyword) == names.end()) {
        std::fprintf(stderr, "qinglan: '%s' has no stored table in %s; nothing was exported\n",
                     escape_controls(keyword).c_str(), store->path().c_str());
        return 1;
    }
    PackedRows rows;
    const bool read = store->read_rows(
        keyword,
        [&rows](ContactRecord&& record) {
            rows.add(record);
            return true;
        },
        &error);
    if (!read) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 1;
    }
    // Ctrl-C must not leave the half-written workbook beside FILE.
    remove_temporary_files_on_signals();
    if (!export_xlsx(file, rows, {}, &error)) {
        std::fprintf(stderr, "qinglan: export of '%s' failed: %s\n",
                     escape_controls(keyword).c_str(), escape_controls(error).c_str());
        return 1;
    }
    std::printf("%s: %zu rows written to %s\n", escape_controls(keyword).c_str(), rows.row_count(),
                escape_controls(file).c_str());
    return 0;
}

}  // namespace qinglan
