#pragma once

// What the export tests share: a scratch folder per test, row sources over
// vectors and a look at a folder's files.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "export/row_source.h"
#include "export/table_export.h"
#include "services/contact_record.h"
#include "tests/temp_folder.h"

namespace qinglan {

// Rows from a vector. With `grows` set, every row handed out appends a new
// row, as a collection that is still running does.
class VectorSource final : public RowSource {
public:
    explicit VectorSource(std::vector<ContactRecord> rows, bool grows = false)
        : rows_(std::move(rows)), grows_(grows) {}

    std::size_t row_count() override {
        ++count_calls_;
        return rows_.size();
    }
    bool row(std::size_t index, ContactRecord* out) override {
        if (index >= rows_.size() || index == fail_at_) {
            return false;
        }
        *out = rows_[index];
        if (grows_) {
            rows_.push_back(record_for("late" + std::to_string(rows_.size())));
        }
        return true;
    }

    static ContactRecord record_for(const std::string& prefix) {
        ContactRecord record;
        for (std::size_t i = 0; i < record.size(); ++i) {
            record[i] = prefix;
            record[i] += '-';
            record[i] += std::to_string(i);
        }
        return record;
    }

    std::vector<ContactRecord> rows_;
    bool grows_;
    int count_calls_ = 0;
    std::size_t fail_at_ = static_cast<std::size_t>(-1);
};

// Exports the rows of one keyword, as the windows do.
inline bool export_one(const std::string& path, RowSource& rows, const ExportProgress& progress,
                       std::string* error, ExportReport* report = nullptr) {
    ExportReport ignored;
    return export_keywords(path, {{"手机", &rows}}, false, progress,
                           report != nullptr ? report : &ignored, error);
}

class ExportFixture : public testing::Test {
protected:
    TempFolder folder_{testing::UnitTest::GetInstance()->current_test_info()->name()};
    const std::filesystem::path dir_ = folder_.path();

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // The names in a folder, sorted, hidden ones included.
    static std::vector<std::string> names_in(const std::filesystem::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace qinglan
