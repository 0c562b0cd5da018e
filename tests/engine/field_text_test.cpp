#include "engine/site/field_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qinglan {
namespace {

TEST(JsonPage, TellsJsonAndCallbacksFromHtml) {
    EXPECT_TRUE(is_json_page(R"({"a":1})"));
    EXPECT_TRUE(is_json_page(" \r\n\t[1]"));
    EXPECT_TRUE(is_json_page("\xEF\xBB\xBF{}"));
    EXPECT_TRUE(is_json_page(R"(jQuery1123_45.cb({"a":1}))"));
    EXPECT_TRUE(is_json_page("  $cb  ({})"));
    EXPECT_FALSE(is_json_page("<html>{}</html>"));
    EXPECT_FALSE(is_json_page("1cb({})"));
    EXPECT_FALSE(is_json_page("callback"));
    EXPECT_FALSE(is_json_page("call back({})"));
    EXPECT_FALSE(is_json_page(" \n "));
    EXPECT_FALSE(is_json_page(""));
}

TEST(FieldText, JsonEscapesAreDecodedOnJsonPagesOnly) {
    EXPECT_EQ(clean_field_text(R"(\u65b0\u5E02 \/a\"b\\c)", true), R"(新市 /a"b\c)");
    EXPECT_EQ(clean_field_text(R"(a\nb\tc\rd\be\ff)", true), "a\nb\tc\rd\be\ff");
    EXPECT_EQ(clean_field_text(R"(\ud83d\ude00!)", true), "\xF0\x9F\x98\x80!");
    // A lone surrogate stands for no character.
    EXPECT_EQ(clean_field_text(R"(\ud83dx \ude00)", true), "\xEF\xBF\xBDx \xEF\xBF\xBD");
    // What is no escape stays as written.
    EXPECT_EQ(clean_field_text(R"(\x \u12 \u12G4 end\)", true), R"(\x \u12 \u12G4 end\)");
    // An escaped backslash is not read again with what follows it.
    EXPECT_EQ(clean_field_text(R"(\\u0041)", true), R"(\u0041)");
    EXPECT_EQ(clean_field_text(R"(\u65b0 \/)", false), R"(\u65b0 \/)");
    // A zero byte is left out, escaped or not.
    EXPECT_EQ(clean_field_text(std::string("a\\u0000b\0c", 10), true), "abc");
}

TEST(FieldText, TagsAreRemoved) {
    EXPECT_EQ(clean_field_text("<b>青岚</b><br/>公司", false), "青岚公司");
    EXPECT_EQ(clean_field_text(R"(<a href="x>y">site</a>)", false), "y\">site");
    EXPECT_EQ(clean_field_text("a<!-- <b> -->b<!DOCTYPE x><?php ?>c", false), "abc");
    EXPECT_EQ(clean_field_text("1 < 2 <3 <", false), "1 < 2 <3 <");
    EXPECT_EQ(clean_field_text("a <b unclosed", false), "a <b unclosed");
    // Tags that escapes produced are tags; references give text.
    EXPECT_EQ(clean_field_text(R"(\u003cb\u003ex&lt;i&gt;)", true), "x<i>");
}

TEST(FieldText, CharacterReferencesAreDecodedOnce) {
    EXPECT_EQ(clean_field_text("&amp;&lt;&gt;&quot;&apos;", false), "&<>\"'");
    EXPECT_EQ(clean_field_text("a&nbsp;b", false),
              "a\xC2\xA0"
              "b");
    EXPECT_EQ(clean_field_text("&#26032;&#x65B0;&#X65b0;&#x1F600;", false),
              "新新新\xF0\x9F\x98\x80");
    EXPECT_EQ(clean_field_text("&amp;lt; &#38;#38;", false), "&lt; &#38;");
    // References to no character, or unfinished, stay as written.
    EXPECT_EQ(clean_field_text("&#0; &#xD800; &#x110000; &#99999999999; &#; &#x;", false),
              "&#0; &#xD800; &#x110000; &#99999999999; &#; &#x;");
    EXPECT_EQ(clean_field_text("&amp &copy; &AMP; &#12a; & ;", false),
              "&amp &copy; &AMP; &#12a; & ;");
}

TEST(FieldText, BlanksAreTrimmedAtBothEndsOnly) {
    EXPECT_EQ(clean_field_text(" \t\r\n\xC2\xA0\xE3\x80\x80 青 岚 \xE3\x80\x80\n", false), "青 岚");
    EXPECT_EQ(clean_field_text("&nbsp;<p> 电话&#12288;</p>&#32;", false), "电话");
    EXPECT_EQ(clean_field_text(R"(\n\u3000 x \t)", true), "x");
    EXPECT_EQ(clean_field_text(" \xC2\xA0 ", false), "");
    // A lone byte of a wide blank is no blank.
    EXPECT_EQ(clean_field_text("\xA0x\xC2", false), "\xA0x\xC2");
}

TEST(FillTemplate, PlaceholdersTakeTheirValues) {
    TemplateValues values;
    values.search_host = "s.localhost:8080";
    values.member_host = "m.localhost";
    values.contact_domain = "c.localhost:81";
    values.keyword = "\xCA\xD6 a/";
    values.page = 12;
    values.account = "shop01";
    EXPECT_EQ(fill_template("http://{search_host}/s?q={keyword}&page={page}", values),
              "http://s.localhost:8080/s?q=%CA%D6%20%61%2F&page=12");
    EXPECT_EQ(fill_template("http://{member_host}/card/{account}.json", values),
              "http://m.localhost/card/shop01.json");
    EXPECT_EQ(fill_template("http://{account}.{contact_domain}/{account}", values),
              "http://shop01.c.localhost:81/shop01");
    EXPECT_EQ(fill_template("{x}{page}{}{{page}}{page", values), "{x}12{}{12}{page");
    values.keyword = "";
    EXPECT_EQ(fill_template("q={keyword}", values), "q=");
}

TEST(BlockTitle, VerificationOrLoginWordsOutsideTheKeyword) {
    EXPECT_TRUE(title_asks_to_verify("安全验证 - 示例市场", "手机"));
    EXPECT_TRUE(title_asks_to_verify("请登录", "手机"));
    EXPECT_TRUE(title_asks_to_verify("CAPTCHA check", "手机"));
    EXPECT_TRUE(title_asks_to_verify("Please Verify you are human", ""));
    EXPECT_TRUE(title_asks_to_verify("LogIn", "手机"));
    EXPECT_TRUE(title_asks_to_verify("Are you a Robot?", "手机"));
    EXPECT_FALSE(title_asks_to_verify("手机 - 供应商 - 示例市场", "手机"));
    EXPECT_FALSE(title_asks_to_verify("", "手机"));
    // The keyword itself is not a request to log in.
    EXPECT_FALSE(title_asks_to_verify("验证码模块 - 示例市场", "验证码模块"));
    EXPECT_FALSE(title_asks_to_verify("login button 批发", "LOGIN BUTTON"));
    EXPECT_TRUE(title_asks_to_verify("验证码模块 - 请登录", "验证码模块"));
    // A word that only the cut would join is no word of the title.
    EXPECT_FALSE(title_asks_to_verify("log手机in", "手机"));
    EXPECT_TRUE(title_asks_to_verify("手机robot手机", "手机"));
}

}  // namespace
}  // namespace qinglan
