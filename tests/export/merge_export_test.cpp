// Several keywords in one file: a worksheet each, or merged into one table
// with one row per member account.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/export/export_fixture.h"
#include "tests/export/read_back.h"

namespace qinglan {
namespace {

ContactRecord member(const std::string& company, const std::string& account) {
    ContactRecord record;
    record[kCompanyName] = company;
    record[kAccount] = account;
    return record;
}

class MergeExportTest : public ExportFixture {
protected:
    void SetUp() override {
        if (!openpyxl_present()) {
            GTEST_SKIP() << "no openpyxl for /usr/bin/python3";
        }
    }

    VectorSource phones_{{member("甲", "jia"), member("乙", "yi"), member("无号一", "")}};
    VectorSource cases_{
        {member("乙二", "yi"), member("丙", "bing"), member("无号二", ""), member("甲二", "jia")}};
    VectorSource empty_{{}};
};

TEST_F(MergeExportTest, EachKeywordGetsItsOwnWorksheetInOrder) {
    std::string error;
    ExportReport report;
    const std::string long_name(40, 'x');
    ASSERT_TRUE(export_keywords(path("three.xlsx"),
                                {{"手机", &phones_}, {"a/b", &cases_}, {long_name, &empty_}}, false,
                                {}, &report, &error))
        << error;
    EXPECT_EQ(report.rows, 7u);
    EXPECT_EQ(report.duplicates, 0u);

    std::vector<ReadSheet> sheets;
    ASSERT_TRUE(read_back(path("three.xlsx"), &sheets, &error)) << error;
    ASSERT_EQ(sheets.size(), 3u);
    EXPECT_EQ(sheets[0].name, "手机");
    EXPECT_EQ(sheets[1].name, "a_b");
    EXPECT_EQ(sheets[2].name, std::string(31, 'x'));
    EXPECT_EQ(report.sheet_names, (std::vector<std::string>{"手机", "a_b", std::string(31, 'x')}));
    ASSERT_EQ(sheets[0].rows.size(), 4u);
    ASSERT_EQ(sheets[1].rows.size(), 5u);
    ASSERT_EQ(sheets[2].rows.size(), 1u);
    EXPECT_EQ(sheets[2].rows[0][0], "公司名称");
    EXPECT_EQ(sheets[0].rows[3][0], "无号一");
    EXPECT_EQ(sheets[1].rows[4][0], "甲二");
    EXPECT_EQ(sheets[1].rows[4].size(), 12u);
}

TEST_F(MergeExportTest, MergedKeepsTheFirstRowOfEachAccountInBothFormats) {
    for (const std::string name : {"merged.xlsx", "merged.csv"}) {
        std::string error;
        ExportReport report;
        ASSERT_TRUE(export_keywords(path(name), {{"手机", &phones_}, {"箱包", &cases_}}, true, {},
                                    &report, &error))
            << error;
        EXPECT_EQ(report.rows, 5u) << name;
        EXPECT_EQ(report.duplicates, 2u) << name;

        std::vector<ReadSheet> sheets;
        ASSERT_TRUE(read_back(path(name), &sheets, &error)) << error;
        ASSERT_EQ(sheets.size(), 1u) << name;
        const auto& rows = sheets[0].rows;
        ASSERT_EQ(rows.size(), 6u) << name;
        EXPECT_EQ(rows[0][0], "关键词");
        EXPECT_EQ(rows[0][1], "公司名称");
        EXPECT_EQ(rows[0][3], "用户账户");
        EXPECT_EQ(rows[0].size(), 13u);
        // Rows without an account are not duplicates of each other.
        const std::vector<std::pair<std::string, std::string>> expected = {
            {"手机", "甲"}, {"手机", "乙"}, {"手机", "无号一"}, {"箱包", "丙"}, {"箱包", "无号二"}};
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(rows[i + 1][0], expected[i].first) << name << " row " << i;
            EXPECT_EQ(rows[i + 1][1], expected[i].second) << name << " row " << i;
        }
    }
}

TEST_F(MergeExportTest, SeveralKeywordsToCsvMustBeMerged) {
    std::string error;
    ExportReport report;
    EXPECT_FALSE(export_keywords(path("two.csv"), {{"手机", &phones_}, {"箱包", &cases_}}, false,
                                 {}, &report, &error));
    EXPECT_NE(error.find("merged"), std::string::npos) << error;
    EXPECT_TRUE(names_in(dir_).empty());
}

}  // namespace
}  // namespace qinglan
