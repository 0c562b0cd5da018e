// Values made fit for a workbook cell: escapes that keep them exact, what
// cannot be kept, and the cut at the most a cell holds.

#include "export/cell_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qinglan {
namespace {

const std::string kR = "\xEF\xBF\xBD";  // U+FFFD

std::string fit(const std::string& value, CellChanges* changes = nullptr) {
    std::string buffer;
    CellChanges seen;
    std::string text = prepare_cell_text(value, &buffer, &seen);
    if (changes != nullptr) {
        *changes = seen;
    }
    return text;
}

TEST(CellTextTest, FitValuesAreHandedBackWithoutACopy) {
    std::string buffer = "untouched";
    CellChanges changes;
    for (const std::string value :
         {"plain ascii", "中文 公司", "tab\there", "line\nbreak", "_x12_", "a_b", "_x004G_", ""}) {
        const std::string& text = prepare_cell_text(value, &buffer, &changes);
        EXPECT_EQ(&text, &value) << value;
        EXPECT_FALSE(changes.replaced || changes.cut) << value;
    }
    EXPECT_EQ(buffer, "untouched");
}

TEST(CellTextTest, ControlCharactersAreEscapedNotLost) {
    CellChanges changes;
    EXPECT_EQ(fit("a\r\nb", &changes), "a_x000D_\nb");
    EXPECT_FALSE(changes.replaced);
    EXPECT_EQ(fit("\x01\x08\x0b\x0c\x1f"), "_x0001__x0008__x000B__x000C__x001F_");
    EXPECT_EQ(fit("tab\tlf\n"), "tab\tlf\n");
    EXPECT_EQ(fit("\x7f\xc2\x85"), "\x7f\xc2\x85");  // legal in XML 1.0, kept
}

TEST(CellTextTest, LiteralEscapesAreEscaped) {
    EXPECT_EQ(fit("_x0041_"), "_x005F_x0041_");
    EXPECT_EQ(fit("_X00aF_"), "_x005F_X00aF_");
    EXPECT_EQ(fit("a_x0041_x0042_b"), "a_x005F_x0041_x005F_x0042_b");
    EXPECT_EQ(fit("_x005F_"), "_x005F_x005F_");
    EXPECT_EQ(fit("中_x1234_\r"), "中_x005F_x1234__x000D_");
}

TEST(CellTextTest, WhatXmlCannotCarryBecomesReplacementCharacters) {
    CellChanges changes;
    EXPECT_EQ(fit(std::string("a\0b", 3), &changes), "a" + kR + "b");
    EXPECT_TRUE(changes.replaced);
    EXPECT_EQ(fit("\xef\xbf\xbe\xef\xbf\xbf"), kR + kR);
    EXPECT_EQ(fit("a\xff"
                  "b"),
              "a" + kR + "b");
    EXPECT_EQ(fit("\xc0\xaf"), kR + kR);                    // overlong
    EXPECT_EQ(fit("\xed\xa0\x80"), kR + kR + kR);           // surrogate
    EXPECT_EQ(fit("\xf4\x90\x80\x80"), kR + kR + kR + kR);  // above U+10FFFF
    EXPECT_EQ(fit("\xe4\xb8"
                  "x"),
              kR + "x");  // cut short: one for the subpart
    EXPECT_EQ(fit("ok \xe4\xb8\xad", &changes), "ok \xe4\xb8\xad");
    EXPECT_FALSE(changes.replaced);
}

TEST(CellTextTest, ALongValueIsCutWhereTheCellIsFull) {
    CellChanges changes;
    const std::string fits(kMaxCellLength, 'x');
    EXPECT_EQ(fit(fits, &changes), fits);
    EXPECT_FALSE(changes.cut);
    EXPECT_EQ(fit(fits + "y", &changes), fits);
    EXPECT_TRUE(changes.cut);

    // Excel counts UTF-16 units: a character outside the BMP counts two and
    // is not split.
    std::string emoji;
    for (std::size_t i = 0; i < kMaxCellLength / 2 + 1; ++i) {
        emoji += "😀";
    }
    EXPECT_EQ(fit(emoji, &changes), emoji.substr(0, (kMaxCellLength / 2) * 4));
    EXPECT_TRUE(changes.cut);

    std::string chinese;
    for (std::size_t i = 0; i < kMaxCellLength + 5; ++i) {
        chinese += "中";
    }
    EXPECT_EQ(fit(chinese, &changes).size(), kMaxCellLength * 3);
    EXPECT_TRUE(changes.cut);

    // An escape is never split, and the writer's count of the escaped text
    // stays within the limit too.
    const std::string crs(kMaxCellLength, '\r');
    const std::string cut = fit(crs, &changes);
    EXPECT_TRUE(changes.cut);
    EXPECT_EQ(cut.size(), kMaxCellLength / 7 * 7);
    EXPECT_EQ(cut.substr(cut.size() - 7), "_x000D_");
}

}  // namespace
}  // namespace qinglan
