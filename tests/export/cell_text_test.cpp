// Values made fit for a workbook cell, and their length as a spreadsheet
// counts it.

#include "export/cell_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qinglan {
namespace {

std::string fit(const std::string& value, std::size_t* length = nullptr) {
    std::string buffer;
    std::size_t counted = 0;
    std::string text = prepare_cell_text(value, &buffer, &counted);
    if (length != nullptr) {
        *length = counted;
    }
    return text;
}

TEST(CellTextTest, FitValuesAreHandedBackWithoutACopy) {
    std::string buffer = "untouched";
    std::size_t length = 0;
    for (const std::string value :
         {"plain ascii", "中文 公司", "tab\there", "line\nbreak", "_x12_", "a_b", "_x004G_", ""}) {
        const std::string& text = prepare_cell_text(value, &buffer, &length);
        EXPECT_EQ(&text, &value) << value;
    }
    EXPECT_EQ(buffer, "untouched");
}

TEST(CellTextTest, LengthCountsUtf16Units) {
    std::size_t length = 0;
    fit("abc", &length);
    EXPECT_EQ(length, 3u);
    fit("中文", &length);
    EXPECT_EQ(length, 2u);
    fit("😀", &length);  // outside the BMP: a surrogate pair in Excel
    EXPECT_EQ(length, 2u);
    fit("_x0041_", &length);  // the escape that keeps it literal is not counted
    EXPECT_EQ(length, 7u);
    fit("a\r\nb", &length);
    EXPECT_EQ(length, 3u);
    fit("\xff", &length);
    EXPECT_EQ(length, 1u);
}

TEST(CellTextTest, InvalidUtf8BecomesReplacementCharacters) {
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(fit("a\xff"
                  "b"),
              "a" + r + "b");
    EXPECT_EQ(fit("\xc0\xaf"), r + r);                  // overlong
    EXPECT_EQ(fit("\xe0\x80\x80"), r + r + r);          // overlong
    EXPECT_EQ(fit("\xed\xa0\x80"), r + r + r);          // surrogate
    EXPECT_EQ(fit("\xf4\x90\x80\x80"), r + r + r + r);  // above U+10FFFF
    EXPECT_EQ(fit("\xe4\xb8"
                  "x"),
              r + "x");  // cut short: one for the subpart
    EXPECT_EQ(fit("\xf0\x9f\x98"), r);
    EXPECT_EQ(fit("\x80\x80"), r + r);
    EXPECT_EQ(fit("ok \xe4\xb8\xad"), "ok \xe4\xb8\xad");
    EXPECT_EQ(fit("\xf4\x8f\xbf\xbd"), "\xf4\x8f\xbf\xbd");  // U+10FFFD is fine
}

TEST(CellTextTest, ControlCharactersAndNoncharactersAreReplaced) {
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(fit(std::string("a\0b", 3)), "a" + r + "b");
    EXPECT_EQ(fit("\x01\x08\x0b\x0c\x1f"), r + r + r + r + r);
    EXPECT_EQ(fit("\xef\xbf\xbe\xef\xbf\xbf"), r + r);
    EXPECT_EQ(fit("\x7f\xc2\x85"), "\x7f\xc2\x85");  // legal in XML 1.0, kept
    EXPECT_EQ(fit("tab\tlf\n"), "tab\tlf\n");
}

TEST(CellTextTest, CarriageReturnsBecomeLineFeeds) {
    EXPECT_EQ(fit("a\r\nb"), "a\nb");
    EXPECT_EQ(fit("a\rb"), "a\nb");
    EXPECT_EQ(fit("a\r\r\nb\r"), "a\n\nb\n");
}

TEST(CellTextTest, LiteralEscapesAreEscaped) {
    EXPECT_EQ(fit("_x0041_"), "_x005F_x0041_");
    EXPECT_EQ(fit("_X00aF_"), "_x005F_X00aF_");
    EXPECT_EQ(fit("a_x0041_x0042_b"), "a_x005F_x0041_x005F_x0042_b");
    EXPECT_EQ(fit("_x005F_"), "_x005F_x005F_");
    EXPECT_EQ(fit("中_x1234_\xff"), "中_x005F_x1234_\xEF\xBF\xBD");
}

}  // namespace
}  // namespace qinglan
