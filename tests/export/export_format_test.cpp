#include "export/export_format.h"

#include <gtest/gtest.h>

namespace qinglan {
namespace {

// The name decides the format: the extension in any case, after a dot;
// anything else is a workbook.
TEST(ExportFormatTest, TakenFromTheFileName) {
    EXPECT_EQ(export_format("名单.csv").extension, "csv");
    EXPECT_EQ(export_format("/tmp/A.CsV").extension, "csv");
    EXPECT_EQ(export_format("名单.xlsx").extension, "xlsx");
    EXPECT_EQ(export_format("名单").extension, "xlsx");
    EXPECT_EQ(export_format("csv").extension, "xlsx");
    EXPECT_EQ(export_format("名单_csv").extension, "xlsx");
    EXPECT_EQ(export_format("名单.csv.bak").extension, "xlsx");
}

// A CSV file holds one table: several keywords only merged.
TEST(ExportFormatTest, OnlyCsvHoldsOneTable) {
    const ExportFormat& csv = export_format("a.csv");
    EXPECT_TRUE(csv.holds(1, false));
    EXPECT_TRUE(csv.holds(3, true));
    EXPECT_FALSE(csv.holds(2, false));
    EXPECT_TRUE(export_format("a.xlsx").holds(3, false));
    EXPECT_EQ(export_filters(), "Excel 工作簿 (*.xlsx);;CSV 文件 (*.csv)");
}

}  // namespace
}  // namespace qinglan
