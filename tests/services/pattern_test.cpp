#include "services/pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace qinglan {
namespace {

Text first_group(std::string_view pattern_text, std::string_view text) {
    Pattern pattern;
    regex_compile(pattern, pattern_text);
    return submatch_text(regex_search(pattern, text), text, 1);
}

TEST(Pattern, LazyGroupsAcrossLines) {
    EXPECT_EQ(first_group("<title>(.*?)</title>", "<title>a\r\nb</title>"), "a\r\nb");
    EXPECT_EQ(first_group("\"fax\":\"(.*?)\",\"", "{\"fax\":\"\",\"x\":\"1\"}"), "");
    EXPECT_EQ(first_group("\"fax\":\"(.*?)\",\"", "{\"tel\":\"1\",\"x\":\"1\"}"), "");
    // The first occurrence of the key wins and the group stops at the first suffix.
    EXPECT_EQ(first_group("\"name\":\"(.*?)\",\"", R"({"name":"A","name":"B","x":1})"), "A");
    EXPECT_EQ(first_group("\"name\":\"(.*?)\",\"", R"({"name":"A","B","x":1})"), "A");
    EXPECT_EQ(first_group("\"name\":\"(.*?)\",\"", R"({"NAME":"A","x":1})"), "");
    // Escapes stay as they stand; GBK bytes come out byte for byte.
    EXPECT_EQ(first_group("\"n\":\"(.*?)\",\"", R"({"n":"a\/b\u4e2d","x":1})"), R"(a\/b\u4e2d)");
    EXPECT_EQ(first_group("\"n\":\"(.*?)\",\"", "{\"n\":\"\xCA\xD6\xBB\xFA\",\"x\""),
              "\xCA\xD6\xBB\xFA");
}

TEST(Pattern, EmptyAndMissingResults) {
    Pattern pattern;
    ASSERT_TRUE(regex_compile(pattern, "a(.*?)c"));
    EXPECT_TRUE(regex_search(pattern, "").empty());
    EXPECT_EQ(submatch_text(regex_search(pattern, ""), "", 1), "");
    ASSERT_TRUE(regex_compile(pattern, "x*"));
    EXPECT_TRUE(regex_search(pattern, "").empty());

    const std::string text = "abc";
    ASSERT_TRUE(regex_compile(pattern, "a(b)c"));
    const MatchResult match = regex_search(pattern, text);
    ASSERT_EQ(match.size(), 2U);
    EXPECT_EQ(submatch_text(match, text, 0), "abc");
    EXPECT_EQ(submatch_text(match, text, 1), "b");
    EXPECT_EQ(submatch_text(match, text, 2), "");
    EXPECT_EQ(submatch_text(match, text, -1), "");

    ASSERT_TRUE(regex_compile(pattern, "a(x)?c|a(b)c"));
    const MatchResult optional = regex_search(pattern, text);
    EXPECT_EQ(submatch_text(optional, text, 1), "");
    EXPECT_EQ(submatch_text(optional, text, 2), "b");

    EXPECT_FALSE(regex_compile(pattern, "a(b"));
    EXPECT_TRUE(regex_search(pattern, text).empty());
}

TEST(Pattern, RangesAndOffsets) {
    Pattern pattern;
    ASSERT_TRUE(regex_compile(pattern, "b(c)"));
    const std::string text = "abcabc";
    MatchResult match = regex_search(pattern, text, 3);
    ASSERT_FALSE(match.empty());
    EXPECT_EQ(match[1].offset, 5U);  // counted from the whole text, not the range
    EXPECT_EQ(match[1].length, 1U);
    EXPECT_TRUE(regex_search(pattern, text, 1, 2).empty());
    EXPECT_FALSE(regex_search(pattern, text, 1, 3).empty());
    EXPECT_TRUE(regex_search(pattern, text, 0).empty());
    EXPECT_TRUE(regex_search(pattern, text, 7).empty());
    EXPECT_TRUE(regex_search(pattern, text, 5, 3).empty());

    // The range start counts as the start of the text and of a line.
    ASSERT_TRUE(regex_compile(pattern, "^c"));
    EXPECT_FALSE(regex_search(pattern, text, 3).empty());
    ASSERT_TRUE(regex_compile(pattern, "^b"));
    EXPECT_FALSE(regex_search(pattern, "a\r\nb").empty());
    ASSERT_TRUE(regex_compile(pattern, "a$"));
    EXPECT_FALSE(regex_search(pattern, "xa\nb").empty());
}

TEST(Pattern, CaseFlag) {
    Pattern pattern;
    ASSERT_TRUE(regex_compile(pattern, "\"Sex\":\"(.*?)\""));
    EXPECT_TRUE(regex_search(pattern, R"("sex":"m")").empty());
    ASSERT_TRUE(regex_compile(pattern, "\"Sex\":\"(.*?)\"", false));
    EXPECT_EQ(submatch_text(regex_search(pattern, R"("sex":"m")"), R"("sex":"m")", 1), "m");
}

TEST(Pattern, EngineLimitGivesEmptyResult) {
    // Exponential backtracking makes Boost give up; that is an empty result.
    Pattern pattern;
    ASSERT_TRUE(regex_compile(pattern, "(a*)*b"));
    const std::string text(5000, 'a');
    EXPECT_TRUE(regex_search(pattern, text).empty());
}

}  // namespace
}  // namespace qinglan
