#include "engine/request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/charset.h"

namespace qinglan {
namespace {

TEST(EncodeKeyword, EscapesEveryByteInUpperCase) {
    EXPECT_EQ(encode_keyword("abc"), "%61%62%63");
    EXPECT_EQ(encode_keyword(" "), "%20");
    EXPECT_EQ(encode_keyword("\t"), "%09");
    EXPECT_EQ(encode_keyword("\xCA\xD6\xBB\xFA"), "%CA%D6%BB%FA");
    EXPECT_EQ(encode_keyword("\xB0\xAB"), "%B0%AB");
    EXPECT_EQ(encode_keyword(""), "");
    EXPECT_EQ(encode_keyword("a+b/c?"), "%61%2B%62%2F%63%3F");
}

// The keyword as typed (UTF-8) to what the search request carries.
std::string searched_as(const std::string& keyword) {
    Text gbk;
    std::string refusal;
    return keyword_to_gbk(keyword, &gbk, &refusal) ? encode_keyword(gbk) : "refused: " + refusal;
}

TEST(EncodeKeyword, EveryGbkCharacterIsSearchedAsItself) {
    EXPECT_EQ(searched_as("手機"), "%CA%D6%99%43");
    EXPECT_EQ(searched_as("喆堃镕"), "%86%B4%88%D2%E9%46");
    EXPECT_EQ(searched_as("手机丂"), "%CA%D6%BB%FA%81%40");
    // Code page 936 writes the euro sign as one byte.
    EXPECT_EQ(searched_as("€ a"), "%80%20%61");
    EXPECT_EQ(searched_as(""), "");
}

TEST(EncodeKeyword, KeywordWithACharacterGbkLacksIsRefused) {
    EXPECT_EQ(searched_as("手机\xF0\x9F\x98\x80"),
              "refused: U+1F600 is not a GBK character: the keyword cannot be searched");
    EXPECT_EQ(searched_as("ab\xE2\x80\xAE"),
              "refused: U+202E is not a GBK character: the keyword cannot be searched");
    EXPECT_EQ(searched_as("\xED\x95\x9C\xEA\xB5\xAD"),  // Korean
              "refused: U+D55C is not a GBK character: the keyword cannot be searched");
    EXPECT_EQ(searched_as("ok\xFF"), "refused: the keyword is not UTF-8 text (byte 3)");
}

TEST(AccountRequestable, OnlyAccountsThatCannotSteerARequest) {
    for (const std::string& account : std::vector<std::string>{
             "127.0.0.1:38337/steal?", "a/b", "a?b", "a#b", "a@b", "a:1", "a\\b", "a%2F", "a b",
             "a\tb", "a\nb", std::string("a\0b", 3), "a\x7F"}) {
        EXPECT_FALSE(account_requestable(account)) << account;
    }
    for (const std::string account : {"abc", "a-b_c.d", "\xCA\xD6\xBB\xFA", "A9", "a*", "x=1&y"}) {
        EXPECT_TRUE(account_requestable(account)) << account;
    }
}

TEST(FillRequestTemplate, TheThreeRequests) {
    const MarketHosts hosts;
    EXPECT_EQ(fill_request_template(hosts, "%CA%D6%BB%FA", kSearchPage),
              "http://s.1688.com/company/company_search.htm?keywords=%CA%D6%BB%FA&n=y");
    EXPECT_EQ(fill_request_template(hosts, "", kSearchPage),
              "http://s.1688.com/company/company_search.htm?keywords=&n=y");
    EXPECT_EQ(fill_request_template(hosts, "abc", kMemberCard),
              "http://member.1688.com/member/ajax/memberCardJson.htm?callback="
              "jQuery16405435396444518119_1324703458289&loginId=abc&checkLogin=y");
    EXPECT_EQ(fill_request_template(hosts, "abc", kContactPage),
              "http://abc.cn.alibaba.com/athena/contact/abc.html");
    EXPECT_EQ(fill_request_template(hosts, "a-b_c", kContactPage),
              "http://a-b_c.cn.alibaba.com/athena/contact/a-b_c.html");
    EXPECT_EQ(fill_request_template(hosts, "abc", 0), "");
    EXPECT_EQ(fill_request_template(hosts, "abc", 4), "");
}

TEST(FillRequestTemplate, ConfiguredHosts) {
    MarketHosts hosts;
    hosts.search_host = "https://127.0.0.1:8080";
    hosts.member_host = "127.0.0.1:8080";
    hosts.contact_domain = "localhost:8080";
    EXPECT_EQ(fill_request_template(hosts, "k", kSearchPage),
              "https://127.0.0.1:8080/company/company_search.htm?keywords=k&n=y");
    EXPECT_EQ(fill_request_template(hosts, "x", kContactPage),
              "http://x.localhost:8080/athena/contact/x.html");
    hosts.contact_domain = "https://localhost:8080";
    EXPECT_EQ(fill_request_template(hosts, "x", kContactPage),
              "https://x.localhost:8080/athena/contact/x.html");
    // A value holding "*" is inserted as it is, not filled again.
    EXPECT_EQ(fill_request_template(hosts, "a*", kContactPage),
              "https://a*.localhost:8080/athena/contact/a*.html");
}

}  // namespace
}  // namespace qinglan
