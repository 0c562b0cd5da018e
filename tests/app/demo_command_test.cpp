// The demo mode with the shipped site profile: its own marketplace on
// 127.0.0.1 answers any keyword in the profile's shape, over several result
// pages that repeat a promoted member, and the profile reads them all.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "services/contact_record.h"
#include "tests/app/child_process.h"
#include "tests/temp_folder.h"

namespace qinglan {
namespace {

const std::string kShopProfile = std::string(QINGLAN_TEST_SOURCE) + "/../sites/sample_shop.ini";

using Row = std::vector<std::string>;

// The twelve fields of every row of `table`, in the order stored.
std::vector<Row> stored_records(const std::filesystem::path& data_dir, const std::string& table) {
    std::string sql = "SELECT ";
    for (std::string_view column : kRecordColumnNames) {
        sql += (sql.size() > 7 ? ", \"" : "\"") + std::string(column) + "\"";
    }
    sql += " FROM \"" + table + "\" ORDER BY rowid";
    std::vector<Row> rows;
    sqlite3* db = nullptr;
    const std::string path = (data_dir / "date" / "lingshishuj.db").string();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            Row row;
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                const auto* text = sqlite3_column_text(statement, c);
                row.emplace_back(text == nullptr ? "" : reinterpret_cast<const char*>(text));
            }
            rows.push_back(std::move(row));
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

TEST(DemoCommandTest, CollectsTheShopWithTheShippedProfile) {
    TempFolder folder("DemoShop");
    Child collect({QINGLAN_PROGRAM, "collect", "--demo", "--site", kShopProfile, "--data-dir",
                   folder.path().string(), "茶叶"});
    ASSERT_EQ(collect.wait(), 0) << collect.errors();
    EXPECT_NE(collect.output().find("茶叶"), std::string::npos) << collect.output();

    const std::vector<Row> rows = stored_records(folder.path(), "茶叶");
    ASSERT_EQ(rows.size(), 24u);
    // Listed on every result page, stored once, first.
    int promoted = 0;
    for (const Row& row : rows) {
        promoted += row[2] == "shop01" ? 1 : 0;
    }
    EXPECT_EQ(promoted, 1);
    EXPECT_EQ(rows.front()[2], "shop01");
    EXPECT_EQ(rows.back()[2], "shop24");
    // A JSON escape in the card, a character reference, a tag and "&amp;"
    // on the contact page: each read as the page means it.
    const Row expected = {"宁波北仑电子有限公司",
                          "王芳",
                          "shop02",
                          "外贸部",
                          "业务员",
                          "女士",
                          "0574-81004321 转 8002",
                          "0574-82001234",
                          "13817654321",
                          "浙江省宁波市北仑区新碶街道2号 A&B座",
                          "310037",
                          "http://www.shop02.example.cn/"};
    EXPECT_EQ(rows[1], expected);
}

}  // namespace
}  // namespace qinglan
