// A site made from a profile file: the shipped profile against the sample
// shop's saved pages, and the way its patterns and values treat characters.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/site/profile_site.h"
#include "services/charset.h"
#include "tests/engine/sample_shop.h"
#include "tests/temp_folder.h"

namespace qinglan {
namespace {

const std::string kProfileFile = std::string(QINGLAN_TEST_SOURCE) + "/../sites/sample_shop.ini";
const std::string kShopFolder = std::string(QINGLAN_TEST_DATA) + "/marketplace/shop";
const MarketHosts kHosts{"127.0.0.1:8080", "127.0.0.1:8081", "localhost:8082"};

std::string shop_file(const std::string& name) {
    const std::string text = file_contents(kShopFolder + "/" + name);
    EXPECT_FALSE(text.empty()) << name;
    return text;
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> as_utf8(const TextList& texts) {
    std::vector<std::string> out;
    for (const Text& text : texts) {
        out.push_back(gbk_to_utf8(text));
    }
    return out;
}

// A profile of one member page `p` whose 公司名称 is `company` and whose
// accounts are `account`; `charset` as the file writes it.
std::shared_ptr<const Site> small_site(const TempFolder& folder, const std::string& charset,
                                       const std::string& account, const std::string& company) {
    const std::string path = (folder.path() / "small.ini").string();
    write_file(path, "[site]\nname = 小站\ncharset = " + charset +
                         "\n[search]\nurl = http://{search_host}/s?q={keyword}&p={page}\n"
                         "account = " +
                         account + "\n[member]\np = http://{member_host}/m/{account}\n" +
                         "[fields]\n公司名称 = p " + company + "\n");
    std::string error;
    std::shared_ptr<const Site> site = load_site(path, &error);
    EXPECT_TRUE(site) << error;
    return site;
}

class ShippedProfileSiteTest : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        site_ = load_site(kProfileFile, &error);
        ASSERT_TRUE(site_) << error;
    }
    Text page(const std::string& name) const { return site_->page_text(shop_file(name), ""); }

    std::shared_ptr<const Site> site_;
};

TEST_F(ShippedProfileSiteTest, AddressesAndMemberPagesAreTheProfiles) {
    EXPECT_EQ(site_->name(), "示例市场");
    EXPECT_EQ(site_->pages(), 5);
    Text address;
    std::string refusal;
    ASSERT_TRUE(site_->search_address(kHosts, "茶叶", 1, &address, &refusal)) << refusal;
    EXPECT_EQ(address, "http://127.0.0.1:8080/shop/search?q=%E8%8C%B6%E5%8F%B6&page=1");
    ASSERT_TRUE(site_->search_address(kHosts, "茶叶", 2, &address, &refusal)) << refusal;
    EXPECT_EQ(address, "http://127.0.0.1:8080/shop/search?q=%E8%8C%B6%E5%8F%B6&page=2");

    ASSERT_EQ(site_->member_pages().size(), 2u);
    EXPECT_EQ(site_->member_pages()[0].name, "card");
    EXPECT_EQ(site_->member_pages()[0].label, "card");
    EXPECT_EQ(site_->member_pages()[1].name, "contact");
    EXPECT_EQ(site_->member_page_address(kHosts, 0, "mingqian"),
              "http://127.0.0.1:8081/shop/card/mingqian.json");
    EXPECT_EQ(site_->member_page_address(kHosts, 1, "mingqian"),
              "http://mingqian.localhost:8082/shop/contact.html");
    EXPECT_FALSE(site_->requestable("a/b"));
    EXPECT_TRUE(site_->requestable("mingqian"));
}

TEST_F(ShippedProfileSiteTest, ListsEveryAccountOfAPageInOrderRepeatsIncluded) {
    const std::string first = "search/%E8%8C%B6%E5%8F%B6/1.html";
    EXPECT_EQ(as_utf8(site_->accounts(page(first))),
              (std::vector<std::string>{"mingqian", "shanquan", "mingqian", "yunwu"}));
    EXPECT_TRUE(site_->accounts(page("search/any_keyword.html")).empty());
}

TEST_F(ShippedProfileSiteTest, CutsTheRecordFromThePagesTexts) {
    const TextList pages = {page("card/mingqian.json"), page("contact/mingqian.html")};
    std::vector<int> heard;
    const ContactRecord record =
        site_->record("mingqian", pages, [&](int field, const Text&) { heard.push_back(field); });
    const std::vector<std::string> expected(kMingqianRecord.begin(), kMingqianRecord.end());
    EXPECT_EQ(as_utf8(TextList(record.begin(), record.end())), expected);
    EXPECT_EQ(heard, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

// With `blocked`, any page it matches is a block page, search or member
// page; without it, only a result page that lists nobody and whose title
// asks to verify.
TEST_F(ShippedProfileSiteTest, TellsBlockPagesByItsPatternOrElseByTitle) {
    EXPECT_TRUE(site_->may_block(true) && site_->may_block(false));
    EXPECT_TRUE(site_->blocked(page("blocked/search.html"), true, "茶叶"));
    EXPECT_TRUE(site_->blocked(page("blocked/member.html"), false, "茶叶"));
    EXPECT_FALSE(site_->blocked(page("search/%E8%8C%B6%E5%8F%B6/1.html"), true, "茶叶"));
    EXPECT_FALSE(site_->blocked(page("search/%E8%8C%B6%E5%8F%B6/4.html"), true, "茶叶"));

    TempFolder folder("profile_site_block");
    const std::shared_ptr<const Site> plain =
        small_site(folder, "utf-8", "data-member=\"([a-z]+)\"", "<b>(.*?)</b>");
    EXPECT_TRUE(plain->may_block(true));
    EXPECT_FALSE(plain->may_block(false));
    const auto text = [&](const std::string& utf8) { return plain->page_text(utf8, ""); };
    const std::string verify = "<html><head><title>安全验证</title></head><body>";
    EXPECT_TRUE(plain->blocked(text(verify + "</body>"), true, "茶叶"));
    EXPECT_FALSE(plain->blocked(text(verify + "data-member=\"ab\"</body>"), true, "茶叶"));
    EXPECT_FALSE(plain->blocked(text(verify + "</body>"), true, "验证"));
    EXPECT_FALSE(plain->blocked(text(verify + "</body>"), false, "茶叶"));
}

TEST(ProfileSiteTest, AKeywordGbkLacksIsSearchedOnlyUnderUtf8) {
    TempFolder folder("profile_site_keyword");
    const std::string keyword = "\xF0\x9F\x8D\xB5茶";  // U+1F375 and 茶
    Text address;
    std::string refusal;
    const auto utf8 = small_site(folder, "utf-8", "(x)", "(y)");
    ASSERT_TRUE(utf8->search_address(kHosts, keyword, 3, &address, &refusal)) << refusal;
    EXPECT_EQ(address, "http://127.0.0.1:8080/s?q=%F0%9F%8D%B5%E8%8C%B6&p=3");
    EXPECT_FALSE(utf8->search_address(kHosts, "a\xFF", 1, &address, &refusal));

    const auto gbk = small_site(folder, "gbk", "(x)", "(y)");
    ASSERT_TRUE(gbk->search_address(kHosts, "茶", 1, &address, &refusal)) << refusal;
    EXPECT_EQ(address, "http://127.0.0.1:8080/s?q=%B2%E8&p=1");
    refusal.clear();
    EXPECT_FALSE(gbk->search_address(kHosts, keyword, 1, &address, &refusal));
    EXPECT_NE(refusal.find("U+1F375"), std::string::npos) << refusal;
}

TEST(ProfileSiteTest, PatternsMatchCharactersNotBytes) {
    TempFolder folder("profile_site_class");
    // One character of a class of two; `.` is a whole character.
    const auto site = small_site(folder, "utf-8", "<i>([茶叶])</i>", "<b>(.)</b>");
    const Text result = site->page_text("<i>叶</i><i>茶茶</i><i>茶</i>", "text/html");
    EXPECT_EQ(as_utf8(site->accounts(result)), (std::vector<std::string>{"叶", "茶"}));
    const ContactRecord record = site->record("a", {site->page_text("<b>叶</b>", "")}, {});
    EXPECT_EQ(gbk_to_utf8(record[kCompanyName]), "叶");
    EXPECT_EQ(record[kAccount], "a");  // 用户账号 without a rule
    EXPECT_EQ(record[kTelephone], "");

    // A gbk profile reads its pages' GBK bytes as the same characters.
    const auto gbk = small_site(folder, "gbk", "<i>([茶叶])</i>", "<b>(.)</b>");
    EXPECT_EQ(as_utf8(gbk->accounts(gbk->page_text(utf8_to_gbk("<i>茶</i>"), ""))),
              std::vector<std::string>{"茶"});
    EXPECT_EQ(gbk->member_page_address(kHosts, 0, utf8_to_gbk("茶")),
              "http://127.0.0.1:8081/m/" + utf8_to_gbk("茶"));
}

TEST(ProfileSiteTest, AValueGbkLacksLeavesTheRecordExactly) {
    TempFolder folder("profile_site_value");
    const auto site = small_site(folder, "utf-8", "(x)", "<b>(.*?)</b>");
    const std::string value = "𠮷野家 \xF0\x9F\x8D\xB5 Café";
    const ContactRecord record =
        site->record("a", {site->page_text("<b> " + value + " </b>", "")}, {});
    EXPECT_EQ(gbk_to_utf8(record[kCompanyName]), value);
}

TEST(ProfileSiteTest, LoadingRefusesWhatIsNoProfileNamingTheFile) {
    TempFolder folder("profile_site_load");
    std::string error;
    const std::string missing = (folder.path() / "missing.ini").string();
    EXPECT_FALSE(load_site(missing, &error));
    EXPECT_NE(error.find(missing), std::string::npos) << error;

    const std::string large = (folder.path() / "large.ini").string();
    write_file(large, "; " + std::string(1 << 20, 'x') + "\n");
    EXPECT_FALSE(load_site(large, &error));
    EXPECT_NE(error.find(large), std::string::npos) << error;

    EXPECT_FALSE(load_site(folder.path().string(), &error));
    EXPECT_NE(error.find(folder.path().string()), std::string::npos) << error;

    // A pipe is refused at once, not waited on for a writer.
    const std::string pipe = (folder.path() / "pipe.ini").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(load_site(pipe, &error));
    EXPECT_EQ(error, pipe + ": cannot be read: it is a pipe, not a file");

    const std::string bad = (folder.path() / "bad.ini").string();
    write_file(bad, "[site]\nname = x\n");
    EXPECT_FALSE(load_site(bad, &error));
    EXPECT_EQ(error.rfind(bad + ":", 0), 0u) << error;
}

}  // namespace
}  // namespace qinglan
