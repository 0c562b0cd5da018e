#include "export/stored_rows.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "storage/store_factory.h"
#include "tests/temp_folder.h"

namespace qinglan {
namespace {

// More rows than wait between the store's reader and the export at once.
constexpr int kRows = 3000;

ContactRecord numbered(int i) {
    ContactRecord record;
    record[kAccount] = "account" + std::to_string(i);
    record[kRecordFields - 1] = std::string(100, static_cast<char>('a' + i % 26));
    return record;
}

class StoredRowsTest : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        store_ = open_record_store((folder_.path() / "rows.db").string(), &error);
        ASSERT_TRUE(store_) << error;
        ASSERT_TRUE(store_->ensure_table("灯", &error)) << error;
        for (int i = 0; i < kRows; ++i) {
            add(i);
        }
    }

    void add(int i) {
        std::string error;
        ASSERT_TRUE(store_->insert_record("灯", numbered(i), -1, &error)) << error;
    }

    TempFolder folder_{"stored_rows"};
    std::unique_ptr<RecordStore> store_;
};

// The rows counted when the export began come in stored order, and no more,
// though the collection adds rows meanwhile.
TEST_F(StoredRowsTest, StreamsTheRowsCountedAtTheStart) {
    StoredRows rows(*store_, "灯");
    std::string error;
    ASSERT_TRUE(rows.open(&error)) << error;
    ASSERT_EQ(rows.row_count(), static_cast<std::size_t>(kRows));
    ContactRecord record;
    for (int i = 0; i < kRows; ++i) {
        ASSERT_TRUE(rows.row(static_cast<std::size_t>(i), &record)) << i;
        ASSERT_EQ(record, numbered(i)) << i;
        if (i == 10) {
            add(kRows);  // stored while the reader is part way
        }
    }
    EXPECT_FALSE(rows.row(kRows, &record));
    // The read ended with the last row: the store serves the next one.
    long long count = 0;
    ASSERT_TRUE(store_->count_rows("灯", &count, &error));
    EXPECT_EQ(count, kRows + 1);
}

// An export stopped part way ends the store's read, which the next export
// then gets whole; rows are only had in order.
TEST_F(StoredRowsTest, AnExportStoppedEarlyFreesTheStore) {
    std::string error;
    ContactRecord record;
    {
        StoredRows stopped(*store_, "灯");
        ASSERT_TRUE(stopped.open(&error)) << error;
        ASSERT_TRUE(stopped.row(0, &record));
        EXPECT_FALSE(stopped.row(5, &record));
    }
    StoredRows again(*store_, "灯");
    ASSERT_TRUE(again.open(&error)) << error;
    for (int i = 0; i < kRows; ++i) {
        ASSERT_TRUE(again.row(static_cast<std::size_t>(i), &record)) << i;
    }
    EXPECT_EQ(record, numbered(kRows - 1));
}

// A keyword without a table cannot be exported.
TEST_F(StoredRowsTest, MissingTableFailsToOpen) {
    StoredRows rows(*store_, "没有");
    std::string error;
    EXPECT_FALSE(rows.open(&error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace qinglan
