#include "tools/sample_marketplace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/temp_folder.h"
#include "tests/tools/raw_client.h"
#include "tools/behaviour_option.h"
#include "tools/marketplace_route.h"
#include "tools/received_request.h"

namespace qinglan {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kFolder = std::string(QINGLAN_TEST_DATA) + "/marketplace";

struct Response {
    std::string head;  // status line and headers
    std::string body;
};

Response split_response(const std::string& raw) {
    const auto end = raw.find("\r\n\r\n");
    if (end == std::string::npos) {
        return {raw, {}};
    }
    return {raw.substr(0, end + 2), raw.substr(end + 4)};
}

class SampleMarketplaceTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(market_.start()); }

    Response exchange(std::string_view request) {
        RawClient client(market_.port());
        EXPECT_TRUE(client.connected());
        client.send_text(request);
        return split_response(client.read_all());
    }
    Response get(std::string_view target, std::string_view host = "127.0.0.1") {
        return exchange("GET " + std::string(target) + " HTTP/1.1\r\nHost: " + std::string(host) +
                        "\r\n\r\n");
    }

    SampleMarketplace market_;
};

// --- Routing -----------------------------------------------------------------

ReceivedRequest request_for(std::string target, std::string host = "127.0.0.1:80") {
    ReceivedRequest request;
    request.method = "GET";
    request.target = std::move(target);
    request.version = "HTTP/1.0";
    request.host = std::move(host);
    return request;
}

TEST(MarketplaceRouteTest, MapsTheMarketplaceRequestsToKeys) {
    const auto search =
        route_request(request_for("/company/company_search.htm?keywords=%CA%D6&n=y"));
    EXPECT_EQ(search.key, "search/%CA%D6");
    EXPECT_EQ(search.fallback_key, "search/*");
    EXPECT_EQ(route_request(request_for("/company/company_search.htm?keywords=&n=y")).key,
              "search/");

    const auto card = route_request(
        request_for("/member/ajax/memberCardJson.htm?callback=jQ_1&loginId=abc&checkLogin=y"));
    EXPECT_EQ(card.key, "card/abc");
    EXPECT_EQ(card.callback, "jQ_1");

    EXPECT_EQ(route_request(request_for("/athena/contact/abc.html", "abc.localhost:81")).key,
              "contact/abc");
    EXPECT_EQ(route_request(request_for("/athena/contact/abc.html", "localhost:81")).key, "");
    EXPECT_EQ(route_request(request_for("/athena/contact/abc.html", "xyz.localhost:81")).key, "");
    EXPECT_EQ(route_request(request_for("http://abc.localhost:81/athena/contact/abc.html")).key,
              "contact/abc");

    EXPECT_EQ(route_request(request_for("/123.txt?t=1")).key, "123.txt");
    EXPECT_EQ(route_request(request_for("/")).key, "");
}

TEST(MarketplaceRouteTest, KeepsFolderFilesInsideTheFolder) {
    EXPECT_EQ(folder_file("/d", "search/%CA%D6"), "/d/search/%CA%D6.html");
    EXPECT_EQ(folder_file("/d", "search/*"), "/d/search/any_keyword.html");
    EXPECT_EQ(folder_file("/d", "card/abc"), "/d/card/abc.json");
    EXPECT_EQ(folder_file("/d", "contact/abc"), "/d/contact/abc.html");
    EXPECT_EQ(folder_file("/d", "up.txt"), "/d/up.txt");
    for (const char* key : {"", "..", "../secret", "search/..", "a/../../secret", "card/../x"}) {
        EXPECT_EQ(folder_file("/d", key), "") << key;
    }
}

TEST(ReceivedRequestTest, ParsesHeadsAndRefusesMalformedOnes) {
    ReceivedRequest request;
    ASSERT_TRUE(parse_request_head("GET /a?b HTTP/1.0\nHost: h:1\nX-Two:  v  \n", request));
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/a?b");
    EXPECT_EQ(request.host, "h:1");
    EXPECT_EQ(request.header("x-two"), "v");

    for (const char* head : {"", "GET", "GET /a", "GET /a HTTP/1.0 extra", "GET /a FTP/1.0",
                             "GET /a HTTP/1.0\r\nno colon\r\n", "GET /a HTTP/1.0\r\n folded\r\n",
                             "G(T /a HTTP/1.0\r\n"}) {
        ReceivedRequest bad;
        EXPECT_FALSE(parse_request_head(head, bad)) << head;
    }
}

// --- Answers -----------------------------------------------------------------

TEST_F(SampleMarketplaceTest, AnswersInTheClientsVersionAndCloses) {
    market_.set_resource("a.txt", "hello");

    const Response eleven = get("/a.txt");
    EXPECT_EQ(eleven.head.substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_NE(eleven.head.find("Connection: close\r\n"), std::string::npos);
    EXPECT_NE(eleven.head.find("Content-Length: 5\r\n"), std::string::npos);
    EXPECT_NE(eleven.head.find("Content-Type: text/plain; charset=gbk\r\n"), std::string::npos);
    EXPECT_EQ(eleven.body, "hello");

    const Response ten = exchange("GET /a.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(ten.head.substr(0, 17), "HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(ten.body, "hello");

    EXPECT_EQ(exchange("HEAD /a.txt HTTP/1.0\r\n\r\n").body, "");
    EXPECT_EQ(exchange("POST /a.txt HTTP/1.0\r\n\r\n").head.substr(0, 12), "HTTP/1.0 405");
    EXPECT_EQ(get("/missing.txt").head.substr(0, 12), "HTTP/1.1 404");
}

TEST_F(SampleMarketplaceTest, ShapesAnswersByBehaviour) {
    const std::string body(1000, 'b');
    market_.set_resource("cut", body, "application/x-test");
    market_.set_behaviour("cut", {.drop_after = 10, .extra_headers = {"Set-Cookie: a=1"}});
    market_.set_resource("open", body);
    market_.set_behaviour("open", {.content_length = false, .content_type = "text/x-other"});
    market_.set_behaviour("go", {.status = 301, .location = "/there"});

    const Response cut = get("/cut");
    EXPECT_NE(cut.head.find("Content-Length: 1000\r\n"), std::string::npos);
    EXPECT_NE(cut.head.find("Content-Type: application/x-test\r\n"), std::string::npos);
    EXPECT_NE(cut.head.find("Set-Cookie: a=1\r\n"), std::string::npos);
    EXPECT_EQ(cut.body, body.substr(0, 10));

    const Response open = get("/open");
    EXPECT_EQ(open.head.find("Content-Length"), std::string::npos);
    EXPECT_NE(open.head.find("Content-Type: text/x-other\r\n"), std::string::npos);
    EXPECT_EQ(open.body, body);

    const Response go = get("/go");
    EXPECT_EQ(go.head.substr(0, 12), "HTTP/1.1 301");
    EXPECT_NE(go.head.find("Location: /there\r\n"), std::string::npos);
}

TEST_F(SampleMarketplaceTest, DefaultBehaviourAnswersKeysWithoutTheirOwn) {
    market_.set_resource("plain", "p");
    market_.set_resource("own", "o");
    market_.set_default_behaviour({.fail_times = 1, .fail_status = 503});
    market_.set_behaviour("own", {});

    EXPECT_EQ(get("/plain").head.substr(0, 12), "HTTP/1.1 503");
    EXPECT_EQ(get("/plain").body, "p");  // counted per key, like a behaviour of its own
    EXPECT_EQ(get("/own").body, "o");

    market_.clear_behaviours();
    market_.set_default_behaviour({.fail_times = 1, .fail_status = 500});
    EXPECT_EQ(get("/plain").head.substr(0, 12), "HTTP/1.1 500");
}

TEST(BehaviourOptionTest, ReadsTheBehavioursOfTheCommandLine) {
    std::string key, error;
    Behaviour behaviour;
    ASSERT_TRUE(parse_behaviour_option("card/huge01=endless", &key, &behaviour, &error)) << error;
    EXPECT_EQ(key, "card/huge01");
    EXPECT_TRUE(behaviour.endless);

    ASSERT_TRUE(parse_behaviour_option("card/a=trickle:1:900,delay:5", &key, &behaviour, &error))
        << error;
    EXPECT_EQ(key, "card/a");
    EXPECT_FALSE(behaviour.endless);  // nothing left from the one before
    EXPECT_EQ(behaviour.chunk_bytes, 1);
    EXPECT_EQ(behaviour.chunk_delay_ms, 900);
    EXPECT_EQ(behaviour.delay_ms, 5);
}

TEST(BehaviourOptionTest, RefusesFaultyTextsWhole) {
    std::string key = "kept", error;
    Behaviour behaviour;
    behaviour.delay_ms = 7;
    ASSERT_TRUE(
        parse_behaviour_option("search/*=never,status:404,fail:2:503", &key, &behaviour, &error));
    EXPECT_TRUE(behaviour.never_answer);
    EXPECT_EQ(behaviour.status, 404);
    EXPECT_EQ(behaviour.fail_times, 2);
    EXPECT_EQ(behaviour.fail_status, 503);
    EXPECT_EQ(behaviour.delay_ms, 0);

    key = "kept";
    behaviour = Behaviour();
    for (const char* text : {"endless", "=endless", "k=", "k=endless,", "k=a=endless", "k=forever",
                             "k=delay", "k=delay:-1", "k=delay:5x", "k=delay:3600001",
                             "k=trickle:0:900", "k=trickle:1:0", "k=trickle:1", "k=status:99",
                             "k=status:600", "k=fail:0:503", "k=fail:1", "k=endless:1"}) {
        error.clear();
        EXPECT_FALSE(parse_behaviour_option(text, &key, &behaviour, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    EXPECT_EQ(key, "kept");
    EXPECT_FALSE(behaviour.endless);

    int ms = -1;
    EXPECT_TRUE(parse_milliseconds("0", &ms));
    EXPECT_EQ(ms, 0);
    EXPECT_FALSE(parse_milliseconds("", &ms));
    EXPECT_FALSE(parse_milliseconds("+5", &ms));
}

TEST_F(SampleMarketplaceTest, ServesAFolderBehindTheInMemoryResources) {
    market_.serve_folder(kFolder);

    const Response search = get("/company/company_search.htm?keywords=%CA%D6%BB%FA&n=y");
    EXPECT_EQ(search.body, file_contents(kFolder + "/search/%CA%D6%BB%FA.html"));
    EXPECT_NE(search.head.find("Content-Type: text/html; charset=gbk\r\n"), std::string::npos);
    EXPECT_EQ(get("/company/company_search.htm?keywords=%61&n=y").body,
              file_contents(kFolder + "/search/any_keyword.html"));

    const Response card =
        get("/member/ajax/memberCardJson.htm?callback=cb_1&loginId=shouji01&checkLogin=y");
    EXPECT_EQ(card.body, "cb_1(" + file_contents(kFolder + "/card/shouji01.json") + ")");
    EXPECT_NE(card.head.find("Content-Type: application/javascript; charset=gbk\r\n"),
              std::string::npos);

    EXPECT_EQ(get("/athena/contact/shouji01.html", "shouji01.localhost:1").body,
              file_contents(kFolder + "/contact/shouji01.html"));
    EXPECT_EQ(get("/123.txt").body, file_contents(kFolder + "/123.txt"));
    EXPECT_EQ(get("/../marketplace/123.txt").head.substr(0, 12), "HTTP/1.1 404");
    EXPECT_EQ(get("/search").head.substr(0, 12), "HTTP/1.1 404");  // a directory

    market_.set_resource("123.txt", "from memory");
    EXPECT_EQ(get("/123.txt").body, "from memory");
}

// --- Robustness ----------------------------------------------------------------

TEST_F(SampleMarketplaceTest, RefusesMalformedRequestsAndCarriesOn) {
    market_.set_resource("ok", "fine");

    for (std::string bad : {std::string("hello\r\n\r\n"), std::string("GET /ok\r\n\r\n"),
                            std::string("GET /ok HTTP/1.1\r\nno colon here\r\n\r\n"),
                            std::string("\0\x01\xff garbage \r\n\r\n", 16)}) {
        EXPECT_EQ(exchange(bad).head.substr(0, 12), "HTTP/1.1 400") << bad;
    }
    const std::string huge = "GET /ok HTTP/1.1\r\nX-Big: " + std::string(100000, 'x') + "\r\n\r\n";
    EXPECT_EQ(exchange(huge).head.substr(0, 12), "HTTP/1.1 431");

    EXPECT_EQ(get("/ok").body, "fine");
    EXPECT_EQ(market_.requests().size(), 6u);
}

int open_descriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

TEST_F(SampleMarketplaceTest, LetsGoOfClientsThatLeaveEarly) {
    const int descriptors = open_descriptors();
    market_.set_resource("big", std::string(8 * 1024 * 1024, 'z'));
    market_.set_behaviour("silent", {.never_answer = true});
    market_.set_resource("ok", "fine");
    {
        RawClient silent_leaver(market_.port());
        RawClient half_head(market_.port());
        RawClient non_reader(market_.port());
        RawClient held(market_.port());
        half_head.send_text("GET /ok HTT");
        non_reader.send_text("GET /big HTTP/1.0\r\n\r\n");
        held.send_text("GET /silent HTTP/1.0\r\n\r\n");
    }
    EXPECT_EQ(get("/ok").body, "fine");
    // Each connection is closed by its own thread once the client is gone.
    for (int i = 0; i < 300 && open_descriptors() != descriptors; ++i) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST_F(SampleMarketplaceTest, StopEndsEveryConnectionPromptly) {
    market_.set_resource("big", std::string(8 * 1024 * 1024, 'z'));
    market_.set_behaviour("silent", {.never_answer = true});
    market_.set_resource("slow", std::string(1000, 's'));
    market_.set_behaviour("slow", {.delay_ms = 60000});
    RawClient held(market_.port());
    RawClient non_reader(market_.port());
    RawClient delayed(market_.port());
    held.send_text("GET /silent HTTP/1.0\r\n\r\n");
    non_reader.send_text("GET /big HTTP/1.0\r\n\r\n");
    delayed.send_text("GET /slow HTTP/1.0\r\n\r\n");
    // Held requests are logged before anything is answered.
    for (int i = 0; i < 200 && market_.requests().size() < 3; ++i) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_EQ(market_.requests().size(), 3u);

    const auto start = Clock::now();
    market_.stop();
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
    EXPECT_EQ(held.read_all(), "");
    EXPECT_EQ(market_.port(), 0);

    ASSERT_TRUE(market_.start());
    market_.set_resource("ok", "fine");
    EXPECT_EQ(get("/ok").body, "fine");
}

TEST_F(SampleMarketplaceTest, ChangesAndLogReadsWhileServingAreSafe) {
    market_.set_resource("v", "one");
    std::vector<std::thread> clients;
    std::vector<std::vector<std::string>> seen(4);
    for (int c = 0; c < 4; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < 20; ++i) {
                seen[c].push_back(get("/v").body);
            }
        });
    }
    for (int i = 0; i < 50; ++i) {
        market_.set_resource("v", i % 2 ? "one" : "two");
        market_.set_behaviour("other", {.status = 500});
        (void)market_.requests();
    }
    for (std::thread& client : clients) {
        client.join();
    }
    for (const auto& bodies : seen) {
        for (const std::string& body : bodies) {
            EXPECT_TRUE(body == "one" || body == "two") << body;
        }
    }
    EXPECT_EQ(market_.requests().size(), 80u);
}

}  // namespace
}  // namespace qinglan
