// The profile shipped in sites/ against the sample shop's saved pages: what
// its patterns cut out of them is what a collection of the shop stores.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/site/field_text.h"
#include "engine/site/site_profile.h"
#include "services/contact_record.h"
#include "tests/engine/sample_shop.h"
#include "tests/temp_folder.h"
#include "tools/marketplace_route.h"
#include "tools/received_request.h"

namespace qinglan {
namespace {

const std::string kProfileFile = std::string(QINGLAN_TEST_SOURCE) + "/../sites/sample_shop.ini";
const std::string kMarketFolder = std::string(QINGLAN_TEST_DATA) + "/marketplace";
const std::string kShopFolder = kMarketFolder + "/shop";
constexpr std::string_view kTea = "茶叶";
constexpr std::string_view kTeaInAddress = "%E8%8C%B6%E5%8F%B6";

std::string title_of(std::string_view page) {
    const auto begin = page.find("<title>");
    const auto end = page.find("</title>");
    if (begin == std::string_view::npos || end == std::string_view::npos || end < begin) {
        return {};
    }
    return std::string(page.substr(begin + 7, end - begin - 7));
}

class ShippedProfileTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string text = file_contents(kProfileFile);
        ASSERT_FALSE(text.empty()) << kProfileFile;
        std::string error;
        profile_ = load_site_profile(text, "sample_shop.ini", &error);
        ASSERT_TRUE(profile_) << error;
    }

    static std::string result_page(int page) {
        return file_contents(kShopFolder + "/search/" + std::string(kTeaInAddress) + "/" +
                             std::to_string(page) + ".html");
    }
    // Group 1 of every match of the account pattern, in page order.
    std::vector<std::string> accounts_on(std::string_view page) const {
        std::vector<std::string> accounts;
        int start = 1;
        while (static_cast<std::size_t>(start) <= page.size()) {
            const MatchResult match = regex_search(profile_->account.compiled, page, start);
            if (match.empty()) {
                break;
            }
            accounts.push_back(submatch_text(match, page, 1));
            start =
                static_cast<int>(match[0].offset + std::max<std::size_t>(match[0].length, 1)) + 1;
        }
        return accounts;
    }
    // The saved page a member page of the profile stands for.
    static std::string member_page(std::string_view name, std::string_view account) {
        const std::string extension = name == "card" ? ".json" : ".html";
        return file_contents(kShopFolder + "/" + std::string(name) + "/" + std::string(account) +
                             extension);
    }
    // The twelve fields as the profile cuts them out of the member's pages.
    ContactRecord record_of(std::string_view account) const {
        ContactRecord record;
        for (int i = 0; i < kRecordFields; ++i) {
            const std::optional<FieldRule>& rule = profile_->fields[i];
            if (!rule) {
                record[i] = i == 2 ? std::string(account) : std::string();
                continue;
            }
            const std::string page = member_page(profile_->member_pages[rule->page].name, account);
            const MatchResult match = regex_search(rule->pattern.compiled, page);
            record[i] = clean_field_text(submatch_text(match, page, 1), is_json_page(page));
        }
        return record;
    }
    bool is_blocked(std::string_view page) const {
        return !regex_search(profile_->blocked->compiled, page).empty();
    }

    std::optional<SiteProfile> profile_;
};

TEST_F(ShippedProfileTest, NamesTheShopAndEveryField) {
    EXPECT_EQ(profile_->name, "示例市场");
    EXPECT_EQ(profile_->charset, ProfileCharset::kUtf8);
    EXPECT_EQ(profile_->pages, 5);
    ASSERT_TRUE(profile_->blocked);
    ASSERT_EQ(profile_->member_pages.size(), 2u);
    EXPECT_EQ(profile_->member_pages[0].name, "card");
    EXPECT_EQ(profile_->member_pages[1].name, "contact");
    for (int i = 0; i < kRecordFields; ++i) {
        EXPECT_TRUE(profile_->fields[i]) << kRecordColumnNames[i];
    }
}

TEST_F(ShippedProfileTest, ListsThePromotedMemberOnEveryPage) {
    using Accounts = std::vector<std::string>;
    EXPECT_EQ(accounts_on(result_page(1)), (Accounts{"mingqian", "shanquan", "mingqian", "yunwu"}));
    EXPECT_EQ(accounts_on(result_page(2)), (Accounts{"mingqian", "lvye", "qingxi"}));
    EXPECT_EQ(accounts_on(result_page(3)), (Accounts{"mingqian", "songfeng", "lvye"}));

    // Page 4 lists nobody new, so reading stops there; and the page every
    // other keyword or page gets lists nobody at all.
    std::set<std::string> seen;
    for (int page = 1; page <= 3; ++page) {
        for (const std::string& account : accounts_on(result_page(page))) {
            seen.insert(account);
        }
    }
    const Accounts fourth = accounts_on(result_page(4));
    EXPECT_FALSE(fourth.empty());
    for (const std::string& account : fourth) {
        EXPECT_TRUE(seen.count(account)) << account;
    }
    EXPECT_EQ(accounts_on(file_contents(kShopFolder + "/search/any_keyword.html")), Accounts{});

    // Every listed member has both of its pages.
    for (const std::string& account : seen) {
        EXPECT_FALSE(member_page("card", account).empty()) << account;
        EXPECT_FALSE(member_page("contact", account).empty()) << account;
    }
}

TEST_F(ShippedProfileTest, CutsTheTwelveFieldsOfAMember) {
    const ContactRecord& expected = kMingqianRecord;
    const ContactRecord record = record_of("mingqian");
    for (int i = 0; i < kRecordFields; ++i) {
        EXPECT_EQ(record[i], expected[i]) << kRecordColumnNames[i];
    }
}

TEST_F(ShippedProfileTest, LeavesMissingFieldsEmptyAndKeepsEscapedQuotes) {
    const ContactRecord shanquan = record_of("shanquan");
    EXPECT_EQ(shanquan[0], "福建山泉茶叶合作社");
    EXPECT_EQ(shanquan[3], "");  // 部门: an empty string in the card
    EXPECT_EQ(shanquan[7], "");  // 传真: not on the contact page
    EXPECT_EQ(shanquan[9], "福建省福安市社口镇山泉村 1号");
    EXPECT_EQ(shanquan[11], "");

    const ContactRecord yunwu = record_of("yunwu");
    EXPECT_EQ(yunwu[0], "云南\"云雾\"普洱茶厂");
    EXPECT_EQ(yunwu[8], "");  // 移动电话
    EXPECT_EQ(yunwu[11], "http://yunwu.example.cn/puer/");
    EXPECT_EQ(record_of("lvye")[9], "安徽省合肥市蜀山区黄山路 <绿叶大厦> 9 楼");
}

TEST_F(ShippedProfileTest, TellsBlockPagesFromAnswers) {
    const std::string search_block = file_contents(kShopFolder + "/blocked/search.html");
    const std::string member_block = file_contents(kShopFolder + "/blocked/member.html");
    EXPECT_TRUE(is_blocked(search_block));
    EXPECT_TRUE(is_blocked(member_block));
    EXPECT_TRUE(accounts_on(search_block).empty());
    for (int page = 1; page <= 4; ++page) {
        EXPECT_FALSE(is_blocked(result_page(page))) << page;
    }
    for (const char* account : {"mingqian", "shanquan", "yunwu", "lvye", "qingxi", "songfeng"}) {
        EXPECT_FALSE(is_blocked(member_page("card", account))) << account;
        EXPECT_FALSE(is_blocked(member_page("contact", account))) << account;
    }
    // A profile without `blocked` would still take the search's verification
    // page for one by its title, and the result pages for answers.
    EXPECT_TRUE(title_asks_to_verify(title_of(search_block), kTea));
    for (int page = 1; page <= 4; ++page) {
        EXPECT_FALSE(title_asks_to_verify(title_of(result_page(page)), kTea)) << page;
    }
}

// The profile's addresses, filled as a collection fills them, reach the
// sample marketplace's pages of the shop.
TEST_F(ShippedProfileTest, AddressesReachTheSampleShopsPages) {
    const TemplateValues base{.search_host = "127.0.0.1:8080",
                              .member_host = "127.0.0.1:8080",
                              .contact_domain = "localhost:8080",
                              .keyword = kTea,
                              .page = 1,
                              .account = "mingqian"};
    const auto file_for = [](const std::string& address) {
        ReceivedRequest request;
        request.target = address;  // as a client sends it to a proxy
        return folder_file(kMarketFolder, route_request(request).key);
    };
    for (int page = 1; page <= 4; ++page) {
        TemplateValues values = base;
        values.page = page;
        const std::string address = fill_template(profile_->search_url, values);
        EXPECT_EQ(file_contents(file_for(address)), result_page(page)) << address;
    }
    for (const ProfilePage& page : profile_->member_pages) {
        const std::string address = fill_template(page.address, base);
        EXPECT_EQ(file_contents(file_for(address)), member_page(page.name, "mingqian")) << address;
    }
}

}  // namespace
}  // namespace qinglan
