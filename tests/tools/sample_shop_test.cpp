// The sample marketplace's second shop: UTF-8 pages under /shop/, several
// result pages per keyword, and a verification page served while a
// behaviour has the marketplace block the client.

#include <gtest/gtest.h>

#include <string>

#include "tests/temp_folder.h"
#include "tests/tools/raw_client.h"
#include "tools/behaviour_option.h"
#include "tools/marketplace_route.h"
#include "tools/received_request.h"
#include "tools/sample_marketplace.h"

namespace qinglan {
namespace {

const std::string kFolder = std::string(QINGLAN_TEST_DATA) + "/marketplace";
const std::string kShopFolder = kFolder + "/shop";
// 茶叶 as the shop's search address carries it: UTF-8, percent-encoded.
constexpr std::string_view kTea = "%E8%8C%B6%E5%8F%B6";

ReceivedRequest request_for(std::string target, std::string host = "127.0.0.1:80") {
    ReceivedRequest request;
    request.method = "GET";
    request.target = std::move(target);
    request.version = "HTTP/1.0";
    request.host = std::move(host);
    return request;
}

TEST(ShopRouteTest, MapsTheShopsRequestsToKeys) {
    const auto search = route_request(request_for("/shop/search?q=%E8%8C%B6&page=3"));
    EXPECT_EQ(search.key, "shop/search/%E8%8C%B6/3");
    EXPECT_EQ(search.fallback_key, "shop/search/*");
    EXPECT_EQ(search.block_key, "shop/blocked/search.html");
    EXPECT_EQ(route_request(request_for("/shop/search?page=2&q=abc")).key, "shop/search/abc/2");
    EXPECT_EQ(route_request(request_for("/shop/search?q=abc")).key, "shop/search/abc/1");

    const auto card = route_request(request_for("/shop/card/mingqian.json?t=1"));
    EXPECT_EQ(card.key, "shop/card/mingqian");
    EXPECT_EQ(card.callback, "");
    EXPECT_EQ(card.block_key, "shop/blocked/member.html");
    EXPECT_EQ(route_request(request_for("/shop/card/.json")).key, "");
    EXPECT_EQ(route_request(request_for("/shop/card/a/b.json")).key, "");

    const auto contact = route_request(request_for("/shop/contact.html", "lvye.localhost:81"));
    EXPECT_EQ(contact.key, "shop/contact/lvye");
    EXPECT_EQ(contact.block_key, "shop/blocked/member.html");
    EXPECT_EQ(route_request(request_for("/shop/contact.html", "localhost:81")).key, "");
    EXPECT_EQ(route_request(request_for("http://qingxi.localhost:81/shop/contact.html")).key,
              "shop/contact/qingxi");

    // The built-in shape's routes name their verification pages too.
    EXPECT_EQ(route_request(request_for("/company/company_search.htm?keywords=a")).block_key,
              "blocked/search.html");
    EXPECT_EQ(route_request(request_for("/member/ajax/memberCardJson.htm?loginId=a")).block_key,
              "blocked/member.html");
    EXPECT_EQ(route_request(request_for("/123.txt")).block_key, "");
}

TEST(ShopRouteTest, FindsTheShopsFilesAndServesThemAsUtf8) {
    EXPECT_EQ(folder_file("/d", "shop/search/%E8%8C%B6/2"), "/d/shop/search/%E8%8C%B6/2.html");
    EXPECT_EQ(folder_file("/d", "shop/search/*"), "/d/shop/search/any_keyword.html");
    EXPECT_EQ(folder_file("/d", "shop/card/a"), "/d/shop/card/a.json");
    EXPECT_EQ(folder_file("/d", "shop/contact/a"), "/d/shop/contact/a.html");
    EXPECT_EQ(folder_file("/d", "shop/blocked/search.html"), "/d/shop/blocked/search.html");
    EXPECT_EQ(folder_file("/d", "shop/search/../../x/1"), "");

    EXPECT_EQ(default_content_type("shop/search/a/1"), "text/html; charset=utf-8");
    EXPECT_EQ(default_content_type("shop/contact/a"), "text/html; charset=utf-8");
    EXPECT_EQ(default_content_type("shop/blocked/member.html"), "text/html; charset=utf-8");
    EXPECT_EQ(default_content_type("shop/card/a"), "application/json; charset=utf-8");
    // The built-in shape stays GBK.
    EXPECT_EQ(default_content_type("blocked/search.html"), "text/html; charset=gbk");
    EXPECT_EQ(default_content_type("card/a"), "application/javascript; charset=gbk");
}

struct Answer {
    std::string head;
    std::string body;
};

class SampleShopTest : public testing::Test {
protected:
    void SetUp() override {
        market_.serve_folder(kFolder);
        ASSERT_TRUE(market_.start());
    }

    Answer get(std::string_view target, std::string_view host = "127.0.0.1") {
        RawClient client(market_.port());
        EXPECT_TRUE(client.connected());
        client.send_text("GET " + std::string(target) + " HTTP/1.0\r\nHost: " + std::string(host) +
                         "\r\n\r\n");
        const std::string raw = client.read_all();
        const auto end = raw.find("\r\n\r\n");
        if (end == std::string::npos) {
            return {raw, {}};
        }
        return {raw.substr(0, end + 2), raw.substr(end + 4)};
    }
    Answer search(int page) {
        return get("/shop/search?q=" + std::string(kTea) + "&page=" + std::to_string(page));
    }
    std::string contact_host(std::string_view account) const {
        return std::string(account) + "." + market_.contact_domain();
    }
    static std::string shop_file(const std::string& name) {
        return file_contents(kShopFolder + "/" + name);
    }

    SampleMarketplace market_;
};

TEST_F(SampleShopTest, AnswersEveryResultPageThenAPageListingNobody) {
    for (int page = 1; page <= 4; ++page) {
        const Answer answer = search(page);
        EXPECT_EQ(answer.head.substr(0, 12), "HTTP/1.0 200") << page;
        EXPECT_NE(answer.head.find("Content-Type: text/html; charset=utf-8\r\n"),
                  std::string::npos);
        const std::string expected =
            shop_file("search/" + std::string(kTea) + "/" + std::to_string(page) + ".html");
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(answer.body, expected) << page;
    }
    const std::string nobody = shop_file("search/any_keyword.html");
    ASSERT_FALSE(nobody.empty());
    EXPECT_EQ(search(5).body, nobody);
    EXPECT_EQ(get("/shop/search?q=%E7%BB%BF&page=1").body, nobody);
}

TEST_F(SampleShopTest, AnswersCardsAndContactPagesOfEachMember) {
    const Answer card = get("/shop/card/mingqian.json");
    EXPECT_EQ(card.head.substr(0, 12), "HTTP/1.0 200");
    EXPECT_NE(card.head.find("Content-Type: application/json; charset=utf-8\r\n"),
              std::string::npos);
    EXPECT_EQ(card.body, shop_file("card/mingqian.json"));

    const Answer contact = get("/shop/contact.html", contact_host("mingqian"));
    EXPECT_EQ(contact.head.substr(0, 12), "HTTP/1.0 200");
    EXPECT_EQ(contact.body, shop_file("contact/mingqian.html"));
    EXPECT_EQ(get("/shop/contact.html", contact_host("songfeng")).body,
              shop_file("contact/songfeng.html"));

    EXPECT_EQ(get("/shop/card/nobody.json").head.substr(0, 12), "HTTP/1.0 404");
    EXPECT_EQ(get("/shop/contact.html", contact_host("nobody")).head.substr(0, 12), "HTTP/1.0 404");
    EXPECT_EQ(get("/shop/contact.html", market_.contact_domain()).head.substr(0, 12),
              "HTTP/1.0 404");
}

TEST_F(SampleShopTest, ServesTheVerificationPageUntilTheBlockLifts) {
    const std::string page1_key = "shop/search/" + std::string(kTea) + "/1";
    market_.set_behaviour(page1_key, {.block_times = 2});
    market_.set_behaviour("shop/card/lvye", {.block_times = 1});
    market_.set_behaviour("shop/contact/lvye", {.block_times = 1});

    const std::string blocked_search = shop_file("blocked/search.html");
    const std::string blocked_member = shop_file("blocked/member.html");
    ASSERT_FALSE(blocked_search.empty());
    ASSERT_FALSE(blocked_member.empty());
    for (int i = 0; i < 2; ++i) {
        const Answer answer = search(1);
        EXPECT_EQ(answer.head.substr(0, 12), "HTTP/1.0 200");
        EXPECT_EQ(answer.body, blocked_search);
    }
    EXPECT_EQ(search(1).body, shop_file("search/" + std::string(kTea) + "/1.html"));
    EXPECT_EQ(search(2).body, shop_file("search/" + std::string(kTea) + "/2.html"));

    EXPECT_EQ(get("/shop/card/lvye.json").body, blocked_member);
    EXPECT_EQ(get("/shop/card/lvye.json").body, shop_file("card/lvye.json"));
    EXPECT_EQ(get("/shop/contact.html", contact_host("lvye")).body, blocked_member);
    EXPECT_EQ(get("/shop/contact.html", contact_host("lvye")).body, shop_file("contact/lvye.html"));

    // Counted per key and started again by clear_behaviours, as failures are.
    market_.clear_behaviours();
    market_.set_default_behaviour({.block_times = 1});
    EXPECT_EQ(search(1).body, blocked_search);
    EXPECT_EQ(search(3).body, blocked_search);
    EXPECT_EQ(search(1).body, shop_file("search/" + std::string(kTea) + "/1.html"));
}

// Result pages of a number for any keyword (the demo's): after a keyword's
// own page, before the page that lists nobody, behaviours included.
TEST_F(SampleShopTest, AnswersAnyKeywordsResultPagesByTheirNumber) {
    const auto route = route_request(request_for("/shop/search?q=abc&page=2"));
    EXPECT_EQ(route.page_fallback_key, "shop/search/*/2");
    EXPECT_EQ(route_request(request_for("/shop/search?q=abc")).page_fallback_key,
              "shop/search/*/1");
    EXPECT_EQ(folder_file("/d", "shop/search/*/2"), "/d/shop/search/any_keyword/2.html");

    market_.set_resource("shop/search/*/1", "any keyword, page 1");
    market_.set_resource("shop/search/*/2", "any keyword, page 2");
    market_.set_behaviour("shop/search/*/2", {.block_times = 1});
    EXPECT_EQ(get("/shop/search?q=%E7%BB%BF&page=1").body, "any keyword, page 1");
    const Answer first = get("/shop/search?q=abc");
    EXPECT_EQ(first.body, "any keyword, page 1");
    EXPECT_NE(first.head.find("Content-Type: text/html; charset=utf-8\r\n"), std::string::npos);
    EXPECT_EQ(get("/shop/search?q=abc&page=2").body, shop_file("blocked/search.html"));
    EXPECT_EQ(get("/shop/search?q=abc&page=2").body, "any keyword, page 2");
    EXPECT_EQ(get("/shop/search?q=abc&page=3").body, shop_file("search/any_keyword.html"));
    EXPECT_EQ(search(1).body, shop_file("search/" + std::string(kTea) + "/1.html"));
}

TEST_F(SampleShopTest, FailuresComeBeforeTheBlockAndCardsAreNotWrapped) {
    market_.set_behaviour("card/abc", {.fail_times = 1, .fail_status = 503, .block_times = 1});
    market_.set_resource("card/abc", R"({"ok":1})");
    const std::string target = "/member/ajax/memberCardJson.htm?callback=cb&loginId=abc";

    EXPECT_EQ(get(target).head.substr(0, 12), "HTTP/1.0 503");
    // The built-in shape has no verification page in this folder: a plain
    // one, neither wrapped in the callback nor anything but HTML.
    const Answer blocked = get(target);
    EXPECT_EQ(blocked.head.substr(0, 12), "HTTP/1.0 200");
    EXPECT_NE(blocked.body.find("<title>Verify you are human</title>"), std::string::npos);
    EXPECT_EQ(blocked.body.find("cb("), std::string::npos);
    EXPECT_EQ(get(target).body, R"(cb({"ok":1}))");
}

TEST(ShopBehaviourOptionTest, ReadsBlockedTimes) {
    std::string key, error;
    Behaviour behaviour;
    ASSERT_TRUE(parse_behaviour_option("shop/search/*=blocked:3,delay:5", &key, &behaviour, &error))
        << error;
    EXPECT_EQ(key, "shop/search/*");
    EXPECT_EQ(behaviour.block_times, 3);
    EXPECT_EQ(behaviour.delay_ms, 5);
    for (const char* bad :
         {"k=blocked", "k=blocked:0", "k=blocked:-1", "k=blocked:x", "k=blocked:1:2"}) {
        EXPECT_FALSE(parse_behaviour_option(bad, &key, &behaviour, &error)) << bad;
    }
}

}  // namespace
}  // namespace qinglan
