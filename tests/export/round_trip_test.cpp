// Every value comes back from the file as stored, read by readers that are
// not the writer, in both formats: control characters, CR LF, literal
// escapes, formula-like texts; a value too long for a workbook cell is cut
// there and kept whole in CSV.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/cell_text.h"
#include "tests/export/export_fixture.h"
#include "tests/export/read_back.h"

namespace qinglan {
namespace {

// The values stored, twelve to a row.
std::vector<std::string> tricky_values() {
    std::vector<std::string> values;
    for (char byte = 0x01; byte <= 0x1F; ++byte) {
        values.push_back(std::string("a") + byte + "b");
    }
    values.insert(values.end(),
                  {"五号公司\r\n第二行", "\r\n", "x\r", "_x0041_", "_x005F_", "a_x000D_b",
                   "=SUM(A1)", "+86 574 1234", "-1", "@x", "=1+1\n", "\"quoted\", with comma",
                   std::string(40000, 'L'), "中" + std::string(39999, 'W')});
    return values;
}

std::vector<ContactRecord> as_rows(const std::vector<std::string>& values) {
    std::vector<ContactRecord> rows((values.size() + kRecordFields - 1) / kRecordFields);
    for (std::size_t i = 0; i < values.size(); ++i) {
        rows[i / kRecordFields][i % kRecordFields] = values[i];
    }
    return rows;
}

// Cuts as a workbook cell does, for the plain ASCII and BMP values here.
std::string cut_for_cell(const std::string& value) {
    std::string out;
    std::size_t units = 0;
    for (std::size_t at = 0; at < value.size() && units < kMaxCellLength; ++units) {
        const auto lead = static_cast<unsigned char>(value[at]);
        const std::size_t bytes = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : 3;
        out.append(value, at, bytes);
        at += bytes;
    }
    return out;
}

class RoundTripTest : public ExportFixture, public testing::WithParamInterface<const char*> {};

TEST_P(RoundTripTest, EveryValueComesBackAsStored) {
    if (!openpyxl_present()) {
        GTEST_SKIP() << "no openpyxl for /usr/bin/python3";
    }
    const bool csv = std::string(GetParam()) == "csv";
    const std::vector<std::string> values = tricky_values();
    VectorSource source(as_rows(values));
    const std::string file = path(std::string("tricky.") + GetParam());
    std::string error;
    ExportReport report;
    ASSERT_TRUE(export_one(file, source, {}, &error, &report)) << error;
    EXPECT_EQ(report.losses.replaced_cells, 0u);
    EXPECT_EQ(report.losses.cut_cells, csv ? 0u : 2u);

    std::vector<ReadSheet> sheets;
    ASSERT_TRUE(read_back(file, &sheets, &error)) << error;
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(sheets[0].name, csv ? "" : "手机");
    const auto& rows = sheets[0].rows;
    ASSERT_EQ(rows.size(), source.rows_.size() + 1);
    EXPECT_EQ(rows[0][2], "用户账户");
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::string expected = values[i];
        if (csv && std::string_view("=+-@\t\r").find(expected[0]) != std::string_view::npos) {
            expected = "'" + expected;  // kept a text when a spreadsheet opens the file
        } else if (!csv) {
            expected = cut_for_cell(expected);
        }
        const auto& row = rows[i / kRecordFields + 1];
        ASSERT_GT(row.size(), i % kRecordFields);
        EXPECT_EQ(row[i % kRecordFields], expected) << "value " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, RoundTripTest, testing::Values("xlsx", "csv"));

}  // namespace
}  // namespace qinglan
