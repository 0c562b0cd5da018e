#include "engine/request.h"

#include <gtest/gtest.h>

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

TEST(EncodeKeyword, CharacterOutsideGb2312EncodesToNothing) {
    EXPECT_EQ(encode_keyword("ab\x81\x40"), "");
    EXPECT_EQ(encode_keyword("\xCA\xD6\xB0\x50"), "");
    // A four-byte GB18030 character (what a character GBK lacks becomes).
    EXPECT_EQ(encode_keyword("a\x94\x39\xDA\x33"), "");
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
