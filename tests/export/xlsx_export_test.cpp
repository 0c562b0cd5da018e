// The workbook as a spreadsheet program reads it back: layout, texts kept as
// texts, the text format on every cell, and the row count taken once.

#include "export/table_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/export/export_fixture.h"
#include "tests/export/workbook_reader.h"

namespace qinglan {
namespace {

constexpr int kTextFormat = 49;

using XlsxExportTest = ExportFixture;

TEST_F(XlsxExportTest, HeadingsInRowOneAndListRowWInSheetRowWPlusOne) {
    VectorSource source({VectorSource::record_for("r1"), VectorSource::record_for("r2"),
                         VectorSource::record_for("r3")});
    std::string error;
    ASSERT_TRUE(export_one(path("three.xlsx"), source, {}, &error)) << error;

    WorkbookReader book;
    ASSERT_TRUE(book.read(path("three.xlsx"), &error)) << error;
    const std::vector<std::string> headings = {"公司名称", "联系人", "用户账户", "部门",
                                               "职位",     "称呼",   "电话",     "传真",
                                               "移动电话", "地址",   "邮编",     "网站"};
    for (int column = 0; column < 12; ++column) {
        EXPECT_EQ(book.text(WorkbookReader::reference(column, 1)), headings[column]);
        for (int w = 1; w <= 3; ++w) {
            const ContactRecord expected = VectorSource::record_for("r" + std::to_string(w));
            EXPECT_EQ(book.text(WorkbookReader::reference(column, w + 1)), expected[column]);
        }
    }
    EXPECT_EQ(book.text("C1"), "用户账户");
    EXPECT_EQ(book.last_row(), 4);
    EXPECT_EQ(book.cells().size(), 48u);  // A1:L4 and nothing else
}

// Columns open as wide as their texts, CJK characters twice as wide, up to
// a cap; an empty column is as wide as its heading.
TEST_F(XlsxExportTest, ColumnsAreAsWideAsTheirTexts) {
    ContactRecord wide{};
    wide[kCompanyName] = "杭州青岚贸易有限公司";
    wide[kAccount] = "ab";
    wide[kTelephone] = "0571-88886666 / 0571-88886667";
    wide[kAddress] = std::string(200, 'x');
    ContactRecord narrow{};
    narrow[kCompanyName] = "甲";
    VectorSource source({narrow, wide});
    std::string error;
    ASSERT_TRUE(export_one(path("wide.xlsx"), source, {}, &error)) << error;

    WorkbookReader book;
    ASSERT_TRUE(book.read(path("wide.xlsx"), &error)) << error;
    // A spreadsheet adds a little to the width asked for.
    EXPECT_NEAR(book.column_width(kCompanyName), 21, 1);
    EXPECT_NEAR(book.column_width(kAccount), 9, 1);  // the heading 用户账户
    EXPECT_NEAR(book.column_width(kTelephone), 30, 1);
    EXPECT_NEAR(book.column_width(kFax), 5, 1);
    EXPECT_NEAR(book.column_width(kAddress), 50, 1);
}

TEST_F(XlsxExportTest, EveryCellIsATextWithTheTextFormat) {
    const std::vector<std::string> texts = {
        "杭州某某电子有限公司",
        "第一行\n第二行",
        "a\tb",
        "=SUM(A1)",
        "+1",
        "-1",
        "@x",
        "00123",
        "1e5",
        "0.5",
        "  padded  ",
        "<b>&amp;\"'",
        "TRUE",
        "1/2",
        "2024-01-05",
        "_x0041_",
        "_x0041_x0042_",
        "__x00zz_",
        "139 0000 1111",
        "😀 ok",
        "0",
        "1,000",
        "(123)",
        "%20",
    };
    std::vector<ContactRecord> rows(2);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        rows[i / 12][i % 12] = texts[i];
    }
    VectorSource source(rows);
    std::string error;
    ASSERT_TRUE(export_one(path("texts.xlsx"), source, {}, &error)) << error;

    WorkbookReader book;
    ASSERT_TRUE(book.read(path("texts.xlsx"), &error)) << error;
    for (int row = 1; row <= 3; ++row) {
        for (int column = 0; column < 12; ++column) {
            const std::string reference = WorkbookReader::reference(column, row);
            const SheetCell* cell = book.cell(reference);
            ASSERT_NE(cell, nullptr) << reference;
            EXPECT_EQ(book.number_format(reference), kTextFormat) << reference;
            if (row > 1) {
                EXPECT_EQ(cell->text, rows[row - 2][column]) << reference;
                EXPECT_TRUE(cell->type == "inlineStr" || cell->type == "s") << reference;
            }
        }
    }
}

TEST_F(XlsxExportTest, EmptyValuesAreBlankCellsThatKeepTheTextFormat) {
    ContactRecord record;
    record[kCompanyName] = "公司";
    record[kWebsite] = "www.example.cn";
    VectorSource source({record});
    std::string error;
    ASSERT_TRUE(export_one(path("blanks.xlsx"), source, {}, &error)) << error;

    WorkbookReader book;
    ASSERT_TRUE(book.read(path("blanks.xlsx"), &error)) << error;
    for (int column = 0; column < 12; ++column) {
        const std::string reference = WorkbookReader::reference(column, 2);
        const SheetCell* cell = book.cell(reference);
        ASSERT_NE(cell, nullptr) << reference;
        EXPECT_EQ(book.number_format(reference), kTextFormat) << reference;
        EXPECT_EQ(cell->has_value, column == 0 || column == 11) << reference;
    }
    EXPECT_EQ(book.text("A2"), "公司");
}

TEST_F(XlsxExportTest, AnEmptyListGivesTheHeadingRowOnly) {
    VectorSource source({});
    std::vector<std::size_t> progress;
    std::string error;
    ASSERT_TRUE(export_one(
        path("empty.xlsx"), source,
        [&](std::size_t written, std::size_t) {
            progress.push_back(written);
            return true;
        },
        &error))
        << error;
    WorkbookReader book;
    ASSERT_TRUE(book.read(path("empty.xlsx"), &error)) << error;
    EXPECT_EQ(book.last_row(), 1);
    EXPECT_EQ(book.cells().size(), 12u);
    EXPECT_EQ(book.text("L1"), "网站");
    // Nothing but the finishing's reminders that it is still at work.
    EXPECT_EQ(std::count(progress.begin(), progress.end(), 0u),
              static_cast<std::ptrdiff_t>(progress.size()));
}

TEST_F(XlsxExportTest, TheRowCountIsTakenOnceAndLaterRowsAreLeftOut) {
    VectorSource source({VectorSource::record_for("a"), VectorSource::record_for("b"),
                         VectorSource::record_for("c")},
                        /*grows=*/true);
    std::vector<std::pair<std::size_t, std::size_t>> progress;
    std::string error;
    ASSERT_TRUE(export_one(
        path("growing.xlsx"), source,
        [&](std::size_t written, std::size_t total) {
            progress.emplace_back(written, total);
            return true;
        },
        &error))
        << error;
    EXPECT_EQ(source.count_calls_, 1);
    EXPECT_EQ(source.rows_.size(), 6u);  // three more arrived during the export
    const std::vector<std::pair<std::size_t, std::size_t>> expected = {{1, 3}, {2, 3}, {3, 3}};
    ASSERT_GE(progress.size(), 3u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), progress.begin()));
    for (std::size_t i = 3; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i], expected.back());
    }

    WorkbookReader book;
    ASSERT_TRUE(book.read(path("growing.xlsx"), &error)) << error;
    EXPECT_EQ(book.last_row(), 4);
    EXPECT_EQ(book.text("A4"), "c-0");
}

// Finishing a large workbook takes a while; the caller keeps hearing from it
// meanwhile, so a window that runs its event loop from the callback stays
// responsive.
TEST_F(XlsxExportTest, TheCallerHearsFromTheExportWhileItIsFinished) {
    std::vector<ContactRecord> rows;
    for (int i = 0; i < 40000; ++i) {
        rows.push_back(VectorSource::record_for("浙江省杭州市西湖区文三路" + std::to_string(i)));
    }
    VectorSource source(rows);
    std::size_t calls = 0, finishing_calls = 0;
    std::string error;
    ASSERT_TRUE(export_one(
        path("large.xlsx"), source,
        [&](std::size_t written, std::size_t total) {
            ++calls;
            finishing_calls += calls > total ? 1 : 0;
            EXPECT_EQ(written, std::min(calls, total));
            return true;
        },
        &error))
        << error;
    EXPECT_GE(finishing_calls, 1u);
    WorkbookReader book;
    ASSERT_TRUE(book.read(path("large.xlsx"), &error)) << error;
    EXPECT_EQ(book.last_row(), 40001);
    EXPECT_EQ(book.text("A40001"), "浙江省杭州市西湖区文三路39999-0");
}

TEST_F(XlsxExportTest, OnlyWhatXmlCannotCarryIsReplacedAndCounted) {
    ContactRecord record;
    record[0] = std::string("bad \xff byte");
    record[1] = std::string("cut \xe4\xb8");
    record[2] = std::string("bell\x01 and nul ") + '\0' + "end";
    record[3] = "windows\r\nline";
    record[4] = "old mac\rline";
    record[5] =
        "\xef\xbf\xbe"
        "fffe";
    record[6] = "\xed\xa0\x80 surrogate";
    record[7] = "\x7f del";
    VectorSource source({record});
    std::string error;
    ExportReport report;
    ASSERT_TRUE(export_one(path("unfit.xlsx"), source, {}, &error, &report)) << error;
    EXPECT_EQ(report.losses.replaced_cells, 5u);  // A, B, C, F and G
    EXPECT_EQ(report.losses.cut_cells, 0u);

    WorkbookReader book;
    ASSERT_TRUE(book.read(path("unfit.xlsx"), &error)) << error;
    EXPECT_EQ(book.text("A2"), "bad \xEF\xBF\xBD byte");
    EXPECT_EQ(book.text("B2"), "cut \xEF\xBF\xBD");
    EXPECT_EQ(book.text("C2"),
              "bell\x01 and nul \xEF\xBF\xBD"
              "end");
    EXPECT_EQ(book.text("D2"), "windows\r\nline");
    EXPECT_EQ(book.text("E2"), "old mac\rline");
    EXPECT_EQ(book.text("F2"),
              "\xEF\xBF\xBD"
              "fffe");
    EXPECT_EQ(book.text("G2"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD surrogate");
    EXPECT_EQ(book.text("H2"), "\x7f del");
}

}  // namespace
}  // namespace qinglan
