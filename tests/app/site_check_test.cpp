// `qinglan site-check`: the shipped profile tried on the sample shop's saved
// pages, run as a user runs it.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "services/charset.h"
#include "tests/app/child_process.h"
#include "tests/temp_folder.h"

namespace qinglan {
namespace {

const std::string kProfile = std::string(QINGLAN_TEST_SOURCE) + "/../sites/sample_shop.ini";
const std::string kShop = std::string(QINGLAN_TEST_DATA) + "/marketplace/shop/";
const std::string kSearchPage = kShop + "search/%E8%8C%B6%E5%8F%B6/1.html";

std::vector<std::string> site_check(std::vector<std::string> rest,
                                    const std::string& profile = kProfile) {
    std::vector<std::string> args = {QINGLAN_PROGRAM, "site-check", profile};
    args.insert(args.end(), rest.begin(), rest.end());
    return args;
}

TEST(SiteCheckTest, ShowsWhatTheRulesCutFromEachPage) {
    const std::string card = kShop + "card/lvye.json";
    const std::string contact = kShop + "contact/lvye.html";
    Child child(site_check(
        {"--search", kSearchPage, "--member", "card=" + card, "--member=CONTACT=" + contact}));
    ASSERT_EQ(child.wait(), 0) << child.errors();
    EXPECT_EQ(child.output(), "search page " + kSearchPage +
                                  "\n"
                                  "  block page: no\n"
                                  "  accounts: 4\n"
                                  "    1. \"mingqian\"\n"
                                  "    2. \"shanquan\"\n"
                                  "    3. \"mingqian\"\n"
                                  "    4. \"yunwu\"\n"
                                  "member page card: " +
                                  card +
                                  "\n"
                                  "  block page: no\n"
                                  "  公司名称: \"安徽绿叶茶业贸易有限公司\"\n"
                                  "  联系人: \"王芳\"\n"
                                  "  用户账号: \"lvye\"\n"
                                  "  部门: \"采购部\"\n"
                                  "  职位: \"采购主管\"\n"
                                  "  称呼: \"女士\"\n"
                                  "  网站: \"http://lvye.example.cn/\"\n"
                                  "member page contact: " +
                                  contact +
                                  "\n"
                                  "  block page: no\n"
                                  "  电话: \"0551-65432100\"\n"
                                  "  传真: \"0551-65432101\"\n"
                                  "  移动电话: \"136 6666 0001\"\n"
                                  "  地址: \"安徽省合肥市蜀山区黄山路 <绿叶大厦> 9 楼\"\n"
                                  "  邮编: \"230000\"\n");
    EXPECT_EQ(child.errors(), "");

    // An empty value is a match: the card says the site has none.
    Child empty(site_check({"--member", "card=" + kShop + "card/qingxi.json"}));
    ASSERT_EQ(empty.wait(), 0) << empty.errors();
    EXPECT_NE(empty.output().find("  网站: \"\"\n"), std::string::npos) << empty.output();
}

TEST(SiteCheckTest, ReadsPagesInTheProfilesCharset) {
    TempFolder folder("site_check_gbk");
    const std::string profile = (folder.path() / "gbk.ini").string();
    std::ofstream(profile, std::ios::binary)
        << "[site]\nname = 旧站\ncharset = GBK\n[search]\nurl = "
           "http://{search_host}/s?q={keyword}\n"
           "account = <li id=\"([^\"]+)\">\n[member]\np = http://{member_host}/m/{account}\n"
           "[fields]\n公司名称 = p <h1>(.*?)</h1>\n";
    const std::string search = (folder.path() / "search.html").string();
    std::ofstream(search, std::ios::binary) << gbk("<li id=\"账号一\"><li id=\"b\">");
    // A saved page keeps its control characters; the output shows them escaped.
    const std::string member = (folder.path() / "member.html").string();
    std::ofstream(member, std::ios::binary) << gbk("<h1> 杭州&amp;茶&#9;厂\r\n</h1>");
    Child child(site_check({"--search", search, "--member", "P=" + member}, profile));
    ASSERT_EQ(child.wait(), 0) << child.errors();
    EXPECT_EQ(child.output(), "search page " + search +
                                  "\n  block page: no\n  accounts: 2\n    1. \"账号一\"\n"
                                  "    2. \"b\"\nmember page p: " +
                                  member + "\n  block page: no\n  公司名称: \"杭州&茶\\t厂\"\n");
}

TEST(SiteCheckTest, AMissIsExitOneAndNamed) {
    // A contact page without fax or mobile number.
    const std::string contact = kShop + "contact/qingxi.html";
    Child fields(site_check({"--member", "contact=" + contact}));
    EXPECT_EQ(fields.wait(), 1);
    EXPECT_NE(
        fields.output().find("  电话: \"0737-7654321\"\n  传真: no match\n  移动电话: no match\n"),
        std::string::npos)
        << fields.output();
    EXPECT_EQ(fields.errors(), "qinglan: the pattern of 传真 matches nothing in contact page " +
                                   contact +
                                   "\nqinglan: the pattern of 移动电话 matches nothing in " +
                                   "contact page " + contact + "\n");

    const std::string empty = kShop + "search/any_keyword.html";
    Child none(site_check({"--search", empty}));
    EXPECT_EQ(none.wait(), 1);
    EXPECT_EQ(none.output(), "search page " + empty + "\n  block page: no\n  accounts: 0\n");
    EXPECT_EQ(none.errors(), "qinglan: the account pattern finds no account in " + empty + "\n");
}

TEST(SiteCheckTest, TellsBlockPages) {
    Child search(site_check({"--search", kShop + "blocked/search.html"}));
    EXPECT_EQ(search.wait(), 1);
    EXPECT_NE(search.output().find("  block page: yes\n  accounts: 0\n"), std::string::npos)
        << search.output();

    Child member(site_check({"--member", "contact=" + kShop + "blocked/member.html"}));
    EXPECT_EQ(member.wait(), 1);
    EXPECT_NE(member.output().find("  block page: yes\n  电话: no match\n"), std::string::npos)
        << member.output();

    // Without a `blocked` rule, a member page is never one; a search page
    // without accounts is when its title asks for a login.
    TempFolder folder("site_check_block");
    const std::string profile = (folder.path() / "unblocked.ini").string();
    std::string text = file_contents(kProfile);
    text.erase(text.find("blocked = "),
               text.find('\n', text.find("blocked = ")) - text.find("blocked = "));
    std::ofstream(profile, std::ios::binary) << text;
    Child plain(site_check({"--member", "contact=" + kShop + "blocked/member.html", "--search",
                            kShop + "blocked/search.html"},
                           profile));
    EXPECT_EQ(plain.wait(), 1) << plain.errors();
    EXPECT_NE(plain.output().find("member.html\n  block page: no\n"), std::string::npos)
        << plain.output();
    EXPECT_NE(plain.output().find("search.html\n  block page: yes\n"), std::string::npos)
        << plain.output();
}

TEST(SiteCheckTest, WithoutPagesSummarisesTheProfile) {
    Child child(site_check({}));
    ASSERT_EQ(child.wait(), 0) << child.errors();
    const std::string& out = child.output();
    EXPECT_TRUE(out.starts_with(kProfile + ": the profile loads\nname: 示例市场\ncharset: utf-8\n"
                                           "result pages: up to 5\n"))
        << out;
    EXPECT_NE(out.find("  card = http://{member_host}/shop/card/{account}.json\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("  公司名称: card\n  联系人: card\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  电话: contact\n"), std::string::npos) << out;
}

TEST(SiteCheckTest, BadProfilesAndUsageAreExitTwo) {
    TempFolder folder("site_check_bad");
    const std::string bad = (folder.path() / "bad.ini").string();
    std::ofstream(bad, std::ios::binary)
        << "[site]\nname = x\ncharset = utf-8\n[search]\nurl = http://{search_host}/\n";
    Child profile(site_check({"--search", kSearchPage}, bad));
    EXPECT_EQ(profile.wait(), 2);
    EXPECT_EQ(profile.output(), "");
    EXPECT_EQ(profile.errors().rfind("qinglan: " + bad + ":5: ", 0), 0u) << profile.errors();

    const std::string missing = (folder.path() / "missing.html").string();
    Child page(site_check({"--search", kSearchPage, "--member", "card=" + missing}));
    EXPECT_EQ(page.wait(), 2);
    EXPECT_EQ(page.output(), "");
    EXPECT_NE(page.errors().find(missing), std::string::npos) << page.errors();

    Child name(site_check({"--member", "名片=" + kShop + "card/lvye.json"}));
    EXPECT_EQ(name.wait(), 2);
    EXPECT_NE(name.errors().find("'名片' (it has card, contact)"), std::string::npos)
        << name.errors();

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{QINGLAN_PROGRAM, "site-check"}, site_check({"--member", "card"}),
          site_check({"--search"}), site_check({"--search", kSearchPage, "--search", kSearchPage}),
          site_check({"--frobnicate"}), site_check({kSearchPage})}) {
        Child usage(args);
        EXPECT_EQ(usage.wait(), 2) << args.back();
        EXPECT_NE(usage.errors().find("usage: qinglan site-check FILE"), std::string::npos)
            << usage.errors();
    }
}

}  // namespace
}  // namespace qinglan
