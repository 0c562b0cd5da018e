#include "services/charset.h"

#include <gtest/gtest.h>

namespace qinglan {
namespace {

TEST(ConvertCharset, Gb2312ToItselfIsACheck) {
    EXPECT_EQ(convert_charset("abc 123", "GB2312", "GB2312"), "abc 123");
    EXPECT_EQ(convert_charset("\xCA\xD6\xBB\xFA", "GB2312", "GB2312"), "\xCA\xD6\xBB\xFA");
    // Characters only GBK has: a lead byte 0x81..0xA0, or a trail byte below 0xA1.
    EXPECT_EQ(convert_charset("ab\x81\x40", "GB2312", "GB2312"), "");
    EXPECT_EQ(convert_charset("\xCA\xD6\xB0\x50", "GB2312", "GB2312"), "");
    // An incomplete character at the end is a failure, not a shorter result.
    EXPECT_EQ(convert_charset("ab\xCA", "GB2312", "GB2312"), "");
    EXPECT_EQ(convert_charset("", "GB2312", "GB2312"), "");
}

TEST(ConvertCharset, GrowsTheOutputAndNeverReturnsPart) {
    // UTF-8 needs 3 bytes for each 2-byte GBK character: the buffer grows.
    Text gbk_text;
    std::string utf8_text;
    for (int i = 0; i < 5000; ++i) {
        gbk_text += "\xCA\xD6";
        utf8_text += "\xE6\x89\x8B";
    }
    EXPECT_EQ(convert_charset(gbk_text, "GBK", "UTF-8"), utf8_text);
    EXPECT_EQ(convert_charset("\xCA\xD6", "GBK", "UTF-8"), "\xE6\x89\x8B");
    // UTF-16 of one ASCII byte is twice as long plus a byte-order mark.
    EXPECT_EQ(convert_charset("a", "ASCII", "UTF-16LE"), std::string("a\0", 2));
    // A bad byte after much good text fails the whole conversion.
    EXPECT_EQ(convert_charset(gbk_text + "\xFF", "GBK", "UTF-8"), "");
    EXPECT_EQ(convert_charset("abc", "NO-SUCH-CHARSET", "UTF-8"), "");
    EXPECT_EQ(convert_charset("\xE2\x82\xAC", "UTF-8", "ASCII"), "");
}

TEST(EdgeConversions, Utf8AndGbk) {
    EXPECT_EQ(utf8_to_gbk("手机 abc"), "\xCA\xD6\xBB\xFA abc");
    EXPECT_EQ(gbk_to_utf8("\xCA\xD6\xBB\xFA abc"), "手机 abc");
    EXPECT_EQ(gbk("状态：加载完成"), utf8_to_gbk("状态：加载完成"));
    // A character GBK lacks gets GB18030's four-byte form, which GB2312 rejects.
    const Text emoji = utf8_to_gbk("\xF0\x9F\x98\x80");
    EXPECT_EQ(emoji.size(), 4U);
    EXPECT_EQ(convert_charset(emoji, "GB2312", "GB2312"), "");
    EXPECT_EQ(gbk_to_utf8(emoji), "\xF0\x9F\x98\x80");
    // Undecodable bytes become U+FFFD and the rest of the value survives.
    EXPECT_EQ(gbk_to_utf8("a\xFF"
                          "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(gbk_to_utf8("ab\xCA"), "ab\xEF\xBF\xBD");
    EXPECT_EQ(utf8_to_gbk("a\xC3(b"), "a?(b");
    EXPECT_EQ(gbk_to_utf8(""), "");
}

}  // namespace
}  // namespace qinglan
