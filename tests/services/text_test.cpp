#include "services/text.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/fuzz/fuzz_support.h"

namespace qinglan {
namespace {

// 手机 in GBK, and a character whose second byte is the letter b (0x62).
const Text kShouJi = "\xCA\xD6\xBB\xFA";
const Text kTrailB = "\x81\x62";

TEST(FindText, StepsOverTwoByteCharacters) {
    // The b inside the two-byte character is not a match; the real b is.
    EXPECT_EQ(find_text(kTrailB + "b", "b"), 3);
    EXPECT_EQ(find_text(kTrailB, "b"), -1);
    // Matching starts at a lead byte too, and counts from the whole text.
    EXPECT_EQ(find_text("ab" + kShouJi + "x", "\xBB\xFA"), 5);
    EXPECT_EQ(find_text("abcabc", "abc", 2), 4);
}

TEST(FindText, AgreesWithTheCharacterWalk) {
    // Few distinct bytes, lead bytes among them, so that matches inside and
    // across two-byte characters are common.
    const char alphabet[] = {'a', 'b', 'B', '\x81', '\xB0', '\x62', '\xFE'};
    std::mt19937 random(7);
    auto pick = [&](std::size_t length) {
        std::string s;
        for (std::size_t i = 0; i < length; ++i) {
            s += alphabet[random() % sizeof alphabet];
        }
        return s;
    };
    for (int round = 0; round < 20000; ++round) {
        const std::string text = pick(random() % 40);
        const std::string sought = pick(1 + random() % 3);
        const int start = static_cast<int>(random() % 44) - 2;
        ASSERT_EQ(find_text(text, sought, start), fuzz::walk_find(text, sought, start))
            << testing::PrintToString(text) << " " << testing::PrintToString(sought) << " "
            << start;
    }
}

TEST(FindText, StartAndEdges) {
    EXPECT_EQ(find_text("abc", "a", 0), 1);
    EXPECT_EQ(find_text("abc", "a", -5), 1);
    EXPECT_EQ(find_text("abc", "c", 3), 3);
    EXPECT_EQ(find_text("abc", "c", 4), -1);
    EXPECT_EQ(find_text("", "a"), -1);
    EXPECT_EQ(find_text("abc", "abcd"), -1);
    EXPECT_EQ(find_text("abc", ""), 1);
    EXPECT_EQ(find_text("", ""), -1);
    // A lead byte as the last byte has no second byte: nothing after it.
    EXPECT_EQ(find_text("a\xCA", "\xCA"), 2);
    EXPECT_EQ(find_text("\xCA", "x"), -1);
}

TEST(FindText, MatchesCaseExactly) {
    EXPECT_EQ(find_text("xxHomePage", "homepage"), -1);
    EXPECT_EQ(find_text("xxHomePage", "HomePage"), 3);
}

TEST(LowerAscii, FoldsOnlyAsciiLetters) {
    EXPECT_EQ(lower_ascii("xxHomePage-Z@[`"), "xxhomepage-z@[`");
    EXPECT_EQ(lower_ascii(kShouJi + "\xC1\xE1"), kShouJi + "\xC1\xE1");
    EXPECT_EQ(lower_ascii('Q'), 'q');
    EXPECT_EQ(lower_ascii('\xC1'), '\xC1');

    EXPECT_TRUE(starts_ignoring_case("Content-Type: x", "content-type:"));
    EXPECT_TRUE(starts_ignoring_case("basic", "BASIC"));
    EXPECT_FALSE(starts_ignoring_case("set-cookie", "set-cookie:"));
    EXPECT_FALSE(starts_ignoring_case("\xC1\xE1", "\xC1\xC1"));
    EXPECT_TRUE(starts_ignoring_case("", ""));
}

TEST(TextCutting, LeftAndMid) {
    const Text ten = "0123456789";
    EXPECT_EQ(mid_text(ten, 9, 5), "89");
    EXPECT_EQ(mid_text(ten, 11, 1), "");
    EXPECT_EQ(mid_text(ten, 0, 3), "");
    EXPECT_EQ(mid_text(ten, 1, 0), "");
    EXPECT_EQ(mid_text(ten, 10, 1), "9");
    EXPECT_EQ(left_text(ten, 0), "");
    EXPECT_EQ(left_text(ten, -1), "");
    EXPECT_EQ(left_text(ten, 20), ten);
    // Byte counts cut a character in half.
    EXPECT_EQ(left_text(kShouJi, 3), "\xCA\xD6\xBB");
}

TEST(ReplaceRange, RemovesAndInserts) {
    EXPECT_EQ(replace_range("*", 1, 1, "abc"), "abc");
    EXPECT_EQ(replace_range("abc", 10, 1, "X"), "abcX");
    EXPECT_EQ(replace_range("abc", 0, 1, "X"), "Xbc");
    EXPECT_EQ(replace_range("abcdef", 2, 100), "a");
    EXPECT_EQ(replace_range("abc", 2, 0, "X"), "aXbc");
    EXPECT_EQ(replace_range("abc", 2, -3), "abc");
}

TEST(Conversions, CodesNumbersAndBytes) {
    EXPECT_EQ(char_code("\xB1"), -79);
    EXPECT_EQ(char_code("abc", 2), 'b');
    EXPECT_EQ(char_code("abc", 0), 0);
    EXPECT_EQ(char_code("abc", 4), 0);

    EXPECT_EQ(hex_text(10), "A");
    EXPECT_EQ(hex_text(255), "FF");
    EXPECT_EQ(hex_text(0), "0");

    const Bytes with_zero("ab\0cd", 5);
    EXPECT_EQ(bytes_to_text(with_zero), "ab");
    EXPECT_EQ(bytes_to_text("abc"), "abc");
}

}  // namespace
}  // namespace qinglan
