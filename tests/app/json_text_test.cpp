// JSON strings of the command line's output: any text stays one valid value
// on one line.

#include "app/json_text.h"

#include <gtest/gtest.h>

namespace qinglan {
namespace {

TEST(JsonTextTest, QuotesEscapesAndKeepsTextOnOneLine) {
    EXPECT_EQ(json_string(""), "\"\"");
    EXPECT_EQ(json_string("手机 case"), "\"手机 case\"");
    EXPECT_EQ(json_string("a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
    EXPECT_EQ(json_string("1\n2\r3\t4"), "\"1\\n2\\r3\\t4\"");
    EXPECT_EQ(json_string(std::string("\x01\x1f\x7f", 3) + std::string(1, '\0')),
              "\"\\u0001\\u001f\\u007f\\u0000\"");
    EXPECT_EQ(json_string("a\xE2\x80\xA8"
                          "b\xE2\x80\xA9"),
              "\"a\\u2028b\\u2029\"");
}

TEST(JsonTextTest, IllFormedUtf8BecomesReplacementCharacters) {
    // A lone continuation byte, a cut sequence, an overlong form, a surrogate.
    EXPECT_EQ(json_string("a\x80"
                          "b"),
              "\"a\xEF\xBF\xBD"
              "b\"");
    EXPECT_EQ(json_string("\xE6\x89"), "\"\xEF\xBF\xBD\"");
    EXPECT_EQ(json_string("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(json_string("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

}  // namespace
}  // namespace qinglan
