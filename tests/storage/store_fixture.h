#pragma once

// A data folder of its own for each storage test, the store opened on it,
// and records that are easy to tell apart.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "storage/sqlite_store.h"
#include "tests/temp_folder.h"

namespace qinglan {

class SqliteStoreTest : public testing::Test {
protected:
    TempFolder folder_{testing::UnitTest::GetInstance()->current_test_info()->name()};
    const std::filesystem::path dir_ = folder_.path();

    std::unique_ptr<SqliteStore> open_store() {
        std::string error;
        auto store = SqliteStore::open(dir_.string(), &error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    std::vector<ContactRecord> rows(SqliteStore& store, const std::string& table) {
        std::vector<ContactRecord> result;
        EXPECT_TRUE(store.read_rows(
            table,
            [&](ContactRecord&& r) {
                result.push_back(std::move(r));
                return true;
            },
            nullptr));
        return result;
    }
};

inline ContactRecord record_of(const std::string& seed) {
    ContactRecord record;
    for (int i = 0; i < kRecordFields; ++i) {
        record[static_cast<std::size_t>(i)] = seed + std::to_string(i);
    }
    return record;
}

}  // namespace qinglan
