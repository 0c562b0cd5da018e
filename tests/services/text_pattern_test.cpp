// Patterns over UTF-8 text: characters, not bytes, and the same first match
// whether the text is searched as it is or decoded once for many searches.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "services/text_pattern.h"

namespace qinglan {
namespace {

// Group `index` of the first match from byte `from`, both ways; they agree.
std::string found(std::string_view pattern_text, std::string_view text, std::size_t from = 0,
                  int index = 0) {
    TextPattern pattern;
    EXPECT_TRUE(regex_compile(pattern, pattern_text)) << pattern_text;
    const MatchResult plain = regex_search(pattern, text, static_cast<int>(from) + 1);
    const DecodedText decoded(text);
    const MatchResult once = regex_search(pattern, decoded, from);
    EXPECT_EQ(submatch_text(plain, text, index), submatch_text(once, text, index)) << pattern_text;
    if (!plain.empty() && !once.empty()) {
        EXPECT_EQ(plain[0].offset, once[0].offset) << pattern_text;
    }
    return submatch_text(once, text, index);
}

TEST(TextPatternTest, ClassesAndDotsHoldWholeCharacters) {
    EXPECT_EQ(found("<i>([茶叶])</i>", "<i>叶</i>", 0, 1), "叶");
    EXPECT_EQ(found("<i>([^茶])</i>", "<i>茶</i><i>叶</i>", 0, 1), "叶");
    EXPECT_EQ(found("<b>(.)</b>", "<b>\xF0\xA0\xAE\xB7</b>", 0, 1), "\xF0\xA0\xAE\xB7");
    EXPECT_EQ(found("茶{2}", "茶叶茶茶"), "茶茶");
    TextPattern broken;
    EXPECT_FALSE(regex_compile(broken, "[\xE8"));  // not UTF-8
    EXPECT_FALSE(regex_compile(broken, "(a"));
}

// A pattern that starts with plain characters is searched for them first;
// what it finds must not change.
TEST(TextPatternTest, StartingCharactersFindTheSameMatch) {
    EXPECT_EQ(found("ab*c", "xaac abbc"), "ac");
    EXPECT_EQ(found("茶+叶", "茶茶叶"), "茶茶叶");
    EXPECT_EQ(found("叶|茶", "茶叶"), "茶");
    EXPECT_EQ(found("ab(?<=xab)c", "yabc xabc"), "abc");
    EXPECT_EQ(found("ab(?<=xab)c", "yabc xabc", 5), "abc");
    EXPECT_EQ(found("ab(?<=xab)c", "yabc xabc", 6), "");
    EXPECT_EQ(found("ab\\b", "abc ab"), "ab");
    EXPECT_EQ(found("<dt>电话</dt>\\s*<dd>(.*?)</dd>", "<dt>电话</dt> <dd>1</dd>", 0, 1), "1");
    // The range's start counts as the text's start; a jump past it does not.
    EXPECT_EQ(found("\\bab", "xab ab", 1), "ab");
    EXPECT_EQ(found("(?<=x)ab", "xab", 1), "");
    EXPECT_EQ(found("ab", "ab", 2), "");
}

}  // namespace
}  // namespace qinglan
