// Keywords made into sheet names that Excel accepts and that stay apart.

#include "export/sheet_names.h"

#include <gtest/gtest.h>

#include <string>

namespace qinglan {
namespace {

TEST(SheetNamesTest, ForbiddenCharactersAndEndApostrophesBecomeUnderscores) {
    SheetNames names;
    EXPECT_EQ(names.add("手机"), "手机");
    EXPECT_EQ(names.add("a[b]c:d*e?f/g\\h"), "a_b_c_d_e_f_g_h");
    EXPECT_EQ(names.add("'quoted'"), "_quoted_");
    EXPECT_EQ(names.add("it's"), "it's");
    EXPECT_EQ(names.add("tab\there"), "tab_here");
    EXPECT_EQ(names.add(""), "_");
    EXPECT_EQ(names.add("History"), "History_");
}

TEST(SheetNamesTest, LongNamesAreCutToThirtyOneCharacters) {
    SheetNames names;
    EXPECT_EQ(names.add(std::string(40, 'x')), std::string(31, 'x'));
    std::string chinese, cut;
    for (int i = 0; i < 40; ++i) {
        chinese += "电";
        if (i < 31) {
            cut += "电";
        }
    }
    EXPECT_EQ(names.add(chinese), cut);
    // A character outside the BMP counts two, as Excel counts, and is not split.
    std::string emoji = std::string(30, 'e') + "😀";
    EXPECT_EQ(names.add(emoji), std::string(30, 'e'));
}

TEST(SheetNamesTest, NamesEqualAfterFittingOrByCaseAreNumbered) {
    SheetNames names;
    const std::string base(31, 'k');
    EXPECT_EQ(names.add(base + "one"), base);
    EXPECT_EQ(names.add(base + "two"), std::string(27, 'k') + " (2)");
    EXPECT_EQ(names.add(base + "three"), std::string(27, 'k') + " (3)");
    EXPECT_EQ(names.add("Phone"), "Phone");
    EXPECT_EQ(names.add("PHONE"), "PHONE (2)");
    EXPECT_EQ(names.add("a/b"), "a_b");
    EXPECT_EQ(names.add("a_b"), "a_b (2)");
    EXPECT_EQ(names.add("a:b"), "a_b (3)");
}

}  // namespace
}  // namespace qinglan
