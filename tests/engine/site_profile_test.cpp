#include "engine/site/site_profile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace qinglan {
namespace {

// A complete profile with every key; the comments stand where users put them.
constexpr std::string_view kFullProfile = R"ini(; the sample marketplace of the walk-through
[site]
name = 示例市场              ; shown in the task list
charset = utf-8
[search]
url = http://{search_host}/s?q={keyword}&page={page}
pages = 5
account = data-member="([^"]+)"
blocked = <title>[^<]*(验证|登录)   # optional
[member]
card = http://{member_host}/card/{account}.json
contact = http://{account}.{contact_domain}/contact.html
[fields]
公司名称 = card "company":"(.*?)"
联系人 = card "person":"(.*?)"
用户账号 = card "id":"(.*?)"
部门 = card "dept":"(.*?)"
职位 = card "title":"(.*?)"
称呼 = card "salutation":"(.*?)"
电话 = contact 电话：(.*?)<
传真 = contact 传真：(.*?)<
移动电话 = contact 手机：(.*?)<
地址 = contact <address>(.*?)</address>
邮编 = contact 邮编：(\d+)
网站 = contact <a class="site" href="(.*?)"
)ini";

struct Loaded {
    std::optional<SiteProfile> profile;
    std::string error;
};

Loaded load(std::string_view text) {
    Loaded loaded;
    loaded.profile = load_site_profile(text, "shop.ini", &loaded.error);
    return loaded;
}

// The profile with one line replaced (1-based), or added when `line` is
// past the end.
std::string with_line(std::size_t line, std::string_view replacement) {
    std::string text(kFullProfile);
    std::size_t begin = 0;
    for (std::size_t n = 1; n < line && begin < text.size(); ++n) {
        begin = text.find('\n', begin) + 1;
    }
    const std::size_t end = begin < text.size() ? text.find('\n', begin) : text.size();
    return text.replace(begin, end - begin, replacement);
}

std::string error_of(std::string_view text) {
    const Loaded loaded = load(text);
    return loaded.profile ? "loaded" : loaded.error;
}

std::string group1(const ProfilePattern& pattern, std::string_view text) {
    return submatch_text(regex_search(pattern.compiled, text), text, 1);
}

TEST(SiteProfileLoad, FullProfileGivesEveryValue) {
    const Loaded loaded = load(kFullProfile);
    ASSERT_TRUE(loaded.profile) << loaded.error;
    const SiteProfile& p = *loaded.profile;
    EXPECT_EQ(p.name, "示例市场");
    EXPECT_EQ(p.charset, ProfileCharset::kUtf8);
    EXPECT_EQ(p.search_url, "http://{search_host}/s?q={keyword}&page={page}");
    EXPECT_EQ(p.pages, 5);
    EXPECT_EQ(p.account.text, R"re(data-member="([^"]+)")re");
    ASSERT_TRUE(p.blocked);
    EXPECT_EQ(p.blocked->text, "<title>[^<]*(验证|登录)");
    ASSERT_EQ(p.member_pages.size(), 2u);
    EXPECT_EQ(p.member_pages[0].name, "card");
    EXPECT_EQ(p.member_pages[0].address, "http://{member_host}/card/{account}.json");
    EXPECT_EQ(p.member_pages[1].name, "contact");
    EXPECT_EQ(p.member_pages[1].address, "http://{account}.{contact_domain}/contact.html");
    for (int f = 0; f < kRecordFields; ++f) {
        ASSERT_TRUE(p.fields[f]) << kRecordColumnNames[f];
    }
    EXPECT_EQ(p.fields[kCompanyName]->page, 0u);
    EXPECT_EQ(p.fields[kCompanyName]->pattern.text, R"re("company":"(.*?)")re");
    EXPECT_EQ(p.fields[kTelephone]->page, 1u);
    EXPECT_EQ(p.fields[kTelephone]->pattern.text, "电话：(.*?)<");
    EXPECT_EQ(p.fields[kPostalCode]->pattern.text, R"(邮编：(\d+))");
    // The patterns are compiled, `.` taking line breaks too.
    EXPECT_EQ(group1(p.account, R"(<li data-member="m01">)"), "m01");
    EXPECT_EQ(group1(p.fields[kAddress]->pattern, "<address>一\n二</address>"), "一\n二");
}

TEST(SiteProfileLoad, OptionalKeysHaveTheirDefaults) {
    const Loaded loaded = load(R"([site]
name = n
charset = GBK
[search]
url = http://{search_host}/s?q={keyword}
account = id=(\w+)
[member]
card = http://{member_host}/{account}
)");
    ASSERT_TRUE(loaded.profile) << loaded.error;
    EXPECT_EQ(loaded.profile->charset, ProfileCharset::kGbk);
    EXPECT_EQ(loaded.profile->pages, 1);
    EXPECT_FALSE(loaded.profile->blocked);
    for (const auto& field : loaded.profile->fields) {
        EXPECT_FALSE(field);
    }
}

TEST(SiteProfileLoad, CommentsStartOnlyAtALineStartOrAfterABlank) {
    const Loaded loaded =
        load(with_line(8, "account = a[ ];b#c;(d)\t; a comment") + "\n  # indented\n");
    ASSERT_TRUE(loaded.profile) << loaded.error;
    EXPECT_EQ(loaded.profile->account.text, "a[ ];b#c;(d)");
    EXPECT_EQ(group1(loaded.profile->account, "a ;b#c;d"), "d");
}

TEST(SiteProfileLoad, KeysSectionsAndCharsetIgnoreCase) {
    std::string text = with_line(2, "[SITE]");
    const auto replace_first = [&](std::string_view from, std::string_view to) {
        text.replace(text.find(from), from.size(), to);
    };
    replace_first("charset = utf-8", "Charset = UTF-8");
    replace_first("pages", "PAGES");
    replace_first("contact = ", "Contact = ");
    replace_first("电话 = contact", "电话 = CONTACT");
    const Loaded loaded = load(text);
    ASSERT_TRUE(loaded.profile) << loaded.error;
    EXPECT_EQ(loaded.profile->charset, ProfileCharset::kUtf8);
    EXPECT_EQ(loaded.profile->pages, 5);
    EXPECT_EQ(loaded.profile->member_pages[1].name, "Contact");
    EXPECT_EQ(loaded.profile->fields[kTelephone]->page, 1u);
}

TEST(SiteProfileLoad, BlanksByteOrderMarkAndLineEndsAreIgnored) {
    std::string crlf;
    for (const char c : kFullProfile) {
        crlf += c == '\n' ? std::string(" \t\r\n") : std::string(1, c);
    }
    const Loaded loaded = load("\xEF\xBB\xBF" + crlf);
    ASSERT_TRUE(loaded.profile) << loaded.error;
    EXPECT_EQ(loaded.profile->name, "示例市场");
    EXPECT_EQ(loaded.profile->member_pages[1].address,
              "http://{account}.{contact_domain}/contact.html");
}

TEST(SiteProfileLoad, FieldsMayComeBeforeTheirPages) {
    const Loaded loaded = load(R"([fields]
电话 = card tel:(\d+)
[site]
name = n
charset = utf-8
[search]
url = http://h/?q={keyword}
account = a(.)
[member]
card = http://{member_host}/{account}
)");
    ASSERT_TRUE(loaded.profile) << loaded.error;
    EXPECT_EQ(loaded.profile->fields[kTelephone]->page, 0u);
}

TEST(SiteProfileRefusal, UnknownSectionsAndKeysNameTheirLine) {
    EXPECT_EQ(error_of(with_line(4, "[extra]")), "shop.ini:4: unknown section [extra]");
    EXPECT_EQ(error_of(with_line(7, "host = x")), "shop.ini:7: unknown key host in [search]");
    EXPECT_EQ(error_of(with_line(4, "colour = red")), "shop.ini:4: unknown key colour in [site]");
    EXPECT_EQ(error_of(with_line(17, "Company = card (x)")), "shop.ini:17: unknown field Company");
    EXPECT_EQ(error_of(with_line(17, "公司 = card (x)")), "shop.ini:17: unknown field 公司");
}

TEST(SiteProfileRefusal, FieldsNeedAPageOfMemberAndAPattern) {
    EXPECT_EQ(error_of(with_line(19, "称呼 = profile (x)")),
              "shop.ini:19: 称呼 names the page profile, which [member] lacks");
    EXPECT_EQ(error_of(with_line(19, "称呼 = card")),
              "shop.ini:19: 称呼 needs a page name, a blank and a pattern");
}

TEST(SiteProfileRefusal, PatternsMustCompileAndHaveGroupOne) {
    EXPECT_EQ(error_of(with_line(8, "account = data-member=\"([^\"]+\"")),
              "shop.ini:8: the pattern of account does not compile");
    EXPECT_EQ(error_of(with_line(8, "account = data-member=\"(?:[^\"]+)\"")),
              "shop.ini:8: the pattern of account has no group 1");
    EXPECT_EQ(error_of(with_line(21, "传真 = contact 传真：.*?<")),
              "shop.ini:21: the pattern of 传真 has no group 1");
    EXPECT_EQ(error_of(with_line(23, "地址 = contact (a")),
              "shop.ini:23: the pattern of 地址 does not compile");
    EXPECT_EQ(error_of(with_line(9, "blocked = <title>[")),
              "shop.ini:9: the pattern of blocked does not compile");
    // A set the pattern ends in, after an escape or a range's dash.
    EXPECT_EQ(error_of(with_line(23, "地址 = contact (x)[ l:\\")),
              "shop.ini:23: the pattern of 地址 does not compile");
    EXPECT_EQ(error_of(with_line(23, "地址 = contact (x)[a-")),
              "shop.ini:23: the pattern of 地址 does not compile");
    EXPECT_EQ(error_of(with_line(23, "地址 = contact (x)[a-b")),
              "shop.ini:23: the pattern of 地址 does not compile");
    // blocked only tells whether it matches: it needs no group.
    EXPECT_EQ(error_of(with_line(9, "blocked = captcha")), "loaded");
}

TEST(SiteProfileRefusal, AddressesHoldOnlyTheirPlaceholders) {
    EXPECT_EQ(error_of(with_line(6, "url = http://{search_host}/s?page={page}")),
              "shop.ini:6: the url has no {keyword}");
    EXPECT_EQ(error_of(with_line(6, "url = http://{host}/s?q={keyword}")),
              "shop.ini:6: unknown placeholder {host}");
    EXPECT_EQ(error_of(with_line(6, "url = http://h/s?q={keyword}&m={account}")),
              "shop.ini:6: {account} cannot stand in [search] url");
    EXPECT_EQ(error_of(with_line(11, "card = http://h/{account}?q={keyword}")),
              "shop.ini:11: {keyword} cannot stand in [member] addresses");
    EXPECT_EQ(error_of(with_line(11, "card = http://h/{account}/{page}")),
              "shop.ini:11: {page} cannot stand in [member] addresses");
    EXPECT_EQ(error_of(with_line(12, "contact = http://{Account}/")),
              "shop.ini:12: unknown placeholder {Account}");
    EXPECT_EQ(error_of(with_line(12, "contact = http://h/{account}/{")),
              "shop.ini:12: a { or } that opens or closes no placeholder");
    EXPECT_EQ(error_of(with_line(6, "url = http://h/}{keyword}")),
              "shop.ini:6: a { or } that opens or closes no placeholder");
    EXPECT_EQ(error_of(with_line(11, "card = http://{member_host}/card.json")),
              "shop.ini:11: the address of page card has no {account}");
}

TEST(SiteProfileRefusal, PagesAndCharsetHaveTheirRanges) {
    for (const std::string_view pages : {"0", "1001", "-1", "2x", "99999999999", "1 000"}) {
        EXPECT_EQ(error_of(with_line(7, "pages = " + std::string(pages))),
                  "shop.ini:7: pages is " + std::string(pages) + ", not a number from 1 to 1000");
    }
    EXPECT_EQ(error_of(with_line(7, "pages = 1000")), "loaded");
    EXPECT_EQ(error_of(with_line(7, "pages = 1")), "loaded");
    EXPECT_EQ(error_of(with_line(4, "charset = gb2312")),
              "shop.ini:4: charset is gb2312, not utf-8 or gbk");
    EXPECT_EQ(error_of(with_line(4, "charset = utf8")),
              "shop.ini:4: charset is utf8, not utf-8 or gbk");
}

TEST(SiteProfileRefusal, LinesTheFormatHasNoPlaceFor) {
    EXPECT_EQ(error_of(with_line(5, "url http://h/")),
              "shop.ini:5: neither a [section] header nor a key = value line");
    EXPECT_EQ(error_of(with_line(5, "[search")), "shop.ini:5: a [section] header must end in ]");
    EXPECT_EQ(error_of(with_line(5, "= x")), "shop.ini:5: a value without its key");
    EXPECT_EQ(error_of(with_line(1, "name = early")),
              "shop.ini:1: a key before the first [section] header");
    EXPECT_EQ(error_of(with_line(7, "url = http://h/{keyword}")),
              "shop.ini:7: url is given twice in [search]");
    EXPECT_EQ(error_of(with_line(13, "CARD = http://h/{account}")),
              "shop.ini:13: CARD is given twice in [member]");
    EXPECT_EQ(error_of(with_line(13, "[site]")), "shop.ini:13: section [site] is given twice");
    EXPECT_EQ(error_of(with_line(9, "blocked =   ; nothing")), "shop.ini:9: blocked has no value");
    EXPECT_EQ(error_of(with_line(11, "名片-1 = http://h/{account}")),
              "shop.ini:11: the page name 名片-1 is not made of letters, digits and _");
    EXPECT_EQ(error_of(with_line(3, "name = 内置")),
              "shop.ini:3: the name 内置 is the built-in site's");
}

TEST(SiteProfileRefusal, BytesThatAreNotUtf8TextNameTheirLine) {
    EXPECT_EQ(error_of(with_line(3, "name = \xCA\xBE\xC0\xFD")), "shop.ini:3: not UTF-8 text");
    EXPECT_EQ(error_of(with_line(1, "; \xED\xA0\x80 surrogate")), "shop.ini:1: not UTF-8 text");
    EXPECT_EQ(error_of(with_line(3, std::string("name = a\0b", 10))), "shop.ini:3: a zero byte");
}

TEST(SiteProfileRefusal, WhatTheFileLacksIsNamedWithoutALine) {
    std::string text(kFullProfile);
    EXPECT_EQ(error_of(with_line(3, "")), "shop.ini: [site] has no name");
    EXPECT_EQ(error_of(with_line(4, "")), "shop.ini: [site] has no charset");
    EXPECT_EQ(error_of(with_line(6, "")), "shop.ini: [search] has no url");
    EXPECT_EQ(error_of(with_line(8, "")), "shop.ini: [search] has no account");
    EXPECT_EQ(error_of(text.substr(0, text.find("[member]"))), "shop.ini: [member] names no page");
    EXPECT_EQ(error_of(""), "shop.ini: [site] has no name");
}

TEST(SiteProfileRefusal, TheFirstFaultInTheFileIsTheOneNamed) {
    const std::string text = with_line(19, "称呼 = profile (x)") + "[other]\n";
    EXPECT_EQ(error_of(with_line(3, "nom = x") + "[other]\n"),
              "shop.ini:3: unknown key nom in [site]");
    // A field's page is looked up once [member] has been read whole.
    EXPECT_EQ(error_of(text), "shop.ini:26: unknown section [other]");
}

}  // namespace
}  // namespace qinglan
