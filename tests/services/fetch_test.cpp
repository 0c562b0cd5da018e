#include "services/fetch.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/services/fetch_fixture.h"

namespace qinglan {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// Every byte value, zero included, in an order that differs per seed.
std::string mixed_bytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

milliseconds elapsed_since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

using FetchTest = FetchFixture;

// --- The request on the wire ---------------------------------------------

TEST_F(FetchTest, ReturnsTheExactBytesOfAPlainGet) {
    const std::string page = "<html>\xCA\xD6\xBB\xFA</html>";
    market_.set_resource("page.html", page);

    FetchInfo info;
    EXPECT_EQ(fetch_page(url("/page.html"), nullptr, &info), page);
    EXPECT_EQ(info.content_type, "text/html; charset=gbk");
    EXPECT_EQ(info.status, 200);

    const auto requests = market_.requests();
    ASSERT_EQ(requests.size(), 1u);
    const ReceivedRequest& request = requests[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/page.html");
    EXPECT_EQ(request.version, "HTTP/1.0");
    EXPECT_EQ(request.header("User-Agent"), kUserAgent);
    EXPECT_EQ(request.header_count("Accept"), 1);
    EXPECT_EQ(request.header("Accept"), "*/*");
    std::set<std::string> names;
    for (const auto& [name, value] : request.headers) {
        names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"Host", "User-Agent", "Accept"}));
}

TEST_F(FetchTest, NeverSendsTheFragment) {
    market_.set_resource("page.txt", "text");

    EXPECT_EQ(fetch_page(url("/page.txt?a=1#frag#more")), "text");

    const auto requests = market_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/page.txt?a=1");
}

TEST_F(FetchTest, RefusesWithoutSendingWhatItCannotFetch) {
    market_.set_resource("page.txt", "text");
    const std::string port = std::to_string(market_.port());

    EXPECT_EQ(fetch_page(""), "");
    EXPECT_EQ(fetch_page("#only-a-fragment"), "");
    EXPECT_EQ(fetch_page("ftp://127.0.0.1:" + port + "/page.txt"), "");
    EXPECT_EQ(fetch_page("file:///etc/hostname"), "");
    // libcurl refuses a URL holding a blank rather than sending it.
    EXPECT_EQ(fetch_page(url("/page.txt?k=a b")), "");

    EXPECT_TRUE(market_.requests().empty());
}

TEST_F(FetchTest, SendsBytesAboveAsciiInTheQueryAsTheyStand) {
    market_.set_resource("card/\xD5\xC5", "{}");

    EXPECT_EQ(fetch_page(url("/member/ajax/memberCardJson.htm?loginId=\xD5\xC5")), "{}");

    const auto requests = market_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/member/ajax/memberCardJson.htm?loginId=\xD5\xC5");
}

TEST_F(FetchTest, GivesUpAtOnceWhenNothingListens) {
    SampleMarketplace closed;
    ASSERT_TRUE(closed.start());
    const std::string address = "http://" + closed.search_host() + "/page.txt";
    closed.stop();

    FetchInfo info;
    info.content_type = "left over";
    info.status = 200;
    const auto start = Clock::now();
    EXPECT_EQ(fetch_page(address, nullptr, &info), "");
    EXPECT_LT(elapsed_since(start), milliseconds(2000));
    EXPECT_EQ(info.content_type, "");
    EXPECT_EQ(info.status, 0);
}

// A listening socket that never accepts, its queue filled, so that a further
// connect is neither accepted nor refused: the kernel drops its SYNs.
class FullBacklog {
public:
    FullBacklog() : listener_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 0) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        for (int i = 0; i < 4; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            fillers_.push_back(fd);
        }
    }
    ~FullBacklog() {
        for (int fd : fillers_) {
            close(fd);
        }
        close(listener_);
    }
    FullBacklog(const FullBacklog&) = delete;
    FullBacklog& operator=(const FullBacklog&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/page.txt"; }

private:
    int listener_;
    std::uint16_t port_ = 0;
    std::vector<int> fillers_;
};

TEST_F(FetchTest, GivesUpOnAConnectThatHangs) {
    FullBacklog backlog;
    set_fetch_settings({.connect_seconds = 1, .stall_seconds = 60});

    auto start = Clock::now();
    EXPECT_EQ(fetch_page(backlog.url()), "");
    EXPECT_LT(elapsed_since(start), milliseconds(3000));

    set_fetch_settings({.connect_seconds = 60, .stall_seconds = 60});
    std::atomic<bool> cancel{false};
    std::thread canceller([&cancel] {
        std::this_thread::sleep_for(milliseconds(300));
        cancel = true;
    });
    start = Clock::now();
    EXPECT_EQ(fetch_page(backlog.url(), &cancel), "");
    EXPECT_LT(elapsed_since(start), milliseconds(2500));
    canceller.join();
}

TEST_F(FetchTest, GivesUpOnAServerThatDoesNotSpeakTls) {
    market_.set_resource("page.txt", "text");
    // The handshake counts as part of the connect: the server, waiting for
    // a request head that never comes, says nothing back.
    set_fetch_settings({.connect_seconds = 1, .stall_seconds = kStallSeconds});

    const auto start = Clock::now();
    EXPECT_EQ(fetch_page("https://" + market_.search_host() + "/page.txt"), "");
    EXPECT_LT(elapsed_since(start), milliseconds(3000));
}

// --- Status codes and redirects --------------------------------------------

TEST_F(FetchTest, ReturnsTheBodyOfAnErrorPage) {
    market_.set_resource("gone.html", "<p>gone</p>");
    market_.set_behaviour("gone.html", {.status = 404});
    market_.set_resource("broken.html", "<p>broken</p>");
    market_.set_behaviour("broken.html", {.status = 500});

    FetchInfo info;
    EXPECT_EQ(fetch_page(url("/gone.html"), nullptr, &info), "<p>gone</p>");
    EXPECT_EQ(info.status, 404);
    EXPECT_EQ(fetch_page(url("/broken.html")), "<p>broken</p>");
    EXPECT_NE(fetch_page(url("/missing.html")), "");
}

TEST_F(FetchTest, FollowsRedirectsAndReturnsOnlyTheFinalBody) {
    market_.set_resource("target.html", "final page", "text/plain; charset=utf-8");
    market_.set_behaviour("found", {.location = "/target.html"});
    market_.set_behaviour("moved", {.status = 301, .location = url("/target.html")});
    market_.set_behaviour("twice", {.status = 307, .location = "/found"});

    EXPECT_EQ(fetch_page(url("/found")), "final page");
    EXPECT_EQ(fetch_page(url("/moved")), "final page");
    FetchInfo info;
    EXPECT_EQ(fetch_page(url("/twice"), nullptr, &info), "final page");
    EXPECT_EQ(info.content_type, "text/plain; charset=utf-8");
    EXPECT_EQ(info.status, 200);

    const auto requests = market_.requests();
    ASSERT_EQ(requests.size(), 7u);
    EXPECT_EQ(requests[1].target, "/target.html");
    // The redirected request goes out like the first one.
    EXPECT_EQ(requests[1].header("User-Agent"), kUserAgent);
    EXPECT_EQ(requests[1].version, "HTTP/1.0");
}

TEST_F(FetchTest, EndsARedirectLoop) {
    market_.set_behaviour("ping", {.location = "/pong"});
    market_.set_behaviour("pong", {.location = "/ping"});

    const auto start = Clock::now();
    EXPECT_EQ(fetch_page(url("/ping")), "");
    EXPECT_LT(elapsed_since(start), milliseconds(5000));
    EXPECT_LE(market_.requests().size(), 11u);
}

TEST_F(FetchTest, DoesNotFollowARedirectToAnotherScheme) {
    market_.set_behaviour("to-file", {.location = "file:///etc/hostname"});

    EXPECT_EQ(fetch_page(url("/to-file")), "");
}

// --- Bodies ------------------------------------------------------------------

TEST_F(FetchTest, ReturnsWhatArrivedBeforeTheConnectionDropped) {
    const std::string body = mixed_bytes(10000, 1);
    market_.set_resource("cut.bin", body);
    market_.set_behaviour("cut.bin", {.drop_after = 3000});

    EXPECT_EQ(fetch_page(url("/cut.bin")), body.substr(0, 3000));
}

TEST_F(FetchTest, ReturnsBodiesWholeWhateverTheirSizeAndFraming) {
    const std::string with_zero("abc\0def", 7);
    market_.set_resource("zero.bin", with_zero);
    EXPECT_EQ(fetch_page(url("/zero.bin")), with_zero);

    for (std::size_t size : {1u, 5u, 10240u, 102400u, 102401u, 3u * 1024 * 1024}) {
        const std::string body = mixed_bytes(size, static_cast<unsigned>(size));
        market_.set_resource("sized.bin", body);
        EXPECT_EQ(fetch_page(url("/sized.bin")), body) << size << " bytes";
    }

    const std::string unframed = mixed_bytes(50000, 2);
    market_.set_resource("unframed.bin", unframed);
    market_.set_behaviour("unframed.bin", {.content_length = false});
    EXPECT_EQ(fetch_page(url("/unframed.bin")), unframed);

    const std::string slow = mixed_bytes(4000, 3);
    market_.set_resource("slow.bin", slow);
    market_.set_behaviour("slow.bin", {.chunk_delay_ms = 20, .chunk_bytes = 256});
    EXPECT_EQ(fetch_page(url("/slow.bin")), slow);
}

// --- Stalls and cancellation -------------------------------------------------

TEST_F(FetchTest, GivesUpOnAServerThatNeverAnswers) {
    market_.set_behaviour("silent", {.never_answer = true});

    const auto start = Clock::now();
    EXPECT_EQ(fetch_page(url("/silent")), "");
    EXPECT_LT(elapsed_since(start), milliseconds((kStallSeconds + 3) * 1000));
    EXPECT_EQ(market_.requests().size(), 1u);
}

TEST_F(FetchTest, ReturnsThePartReceivedWhenTheBodyStalls) {
    const std::string body = mixed_bytes(1000, 4);
    market_.set_resource("stalls.bin", body);
    market_.set_behaviour("stalls.bin", {.chunk_delay_ms = 30000, .chunk_bytes = 100});

    const auto start = Clock::now();
    EXPECT_EQ(fetch_page(url("/stalls.bin")), body.substr(0, 100));
    EXPECT_LT(elapsed_since(start), milliseconds((kStallSeconds + 3) * 1000));
}

TEST_F(FetchTest, CancellationEndsAFetchPromptly) {
    market_.set_behaviour("silent", {.never_answer = true});
    const std::string body = mixed_bytes(100000, 5);
    market_.set_resource("trickle.bin", body);
    market_.set_behaviour("trickle.bin", {.chunk_delay_ms = 100, .chunk_bytes = 100});
    set_fetch_settings({.connect_seconds = 5, .stall_seconds = 60});

    for (const char* path : {"/silent", "/trickle.bin"}) {
        std::atomic<bool> cancel{false};
        std::thread canceller([&cancel] {
            std::this_thread::sleep_for(milliseconds(500));
            cancel = true;
        });
        const auto start = Clock::now();
        const Bytes got = fetch_page(url(path), &cancel);
        const auto took = elapsed_since(start);
        canceller.join();

        EXPECT_LT(took, milliseconds(2500)) << path;
        EXPECT_LT(got.size(), body.size()) << path;
        EXPECT_EQ(got, body.substr(0, got.size())) << path;
    }
}

// --- Cookies, hosts and the marketplace's own resources ---------------------

TEST_F(FetchTest, KeepsCookiesForLaterFetchesOnAnyThread) {
    market_.set_resource("cookie/set", "set");
    market_.set_behaviour("cookie/set",
                          {.extra_headers = {"Set-Cookie: qinglan_session=abc123; Path=/cookie"}});
    market_.set_resource("cookie/check", "check");

    EXPECT_EQ(fetch_page(url("/cookie/set")), "set");
    std::thread other([this] { EXPECT_EQ(fetch_page(url("/cookie/check")), "check"); });
    other.join();

    const auto requests = market_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].header("Cookie"), "");
    EXPECT_EQ(requests[1].header("Cookie"), "qinglan_session=abc123");
}

TEST_F(FetchTest, ReachesContactHostsUnderTheLocalhostDomain) {
    market_.set_resource("contact/acct", "<title>acct 13955556666</title>");
    const std::string domain = market_.contact_domain();

    EXPECT_EQ(fetch_page("http://acct." + domain + "/athena/contact/acct.html"),
              "<title>acct 13955556666</title>");
    EXPECT_NE(fetch_page("http://other." + domain + "/athena/contact/acct.html"),
              "<title>acct 13955556666</title>");

    const auto requests = market_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].host, "acct." + domain);
    EXPECT_EQ(requests[0].resource_key, "contact/acct");
    EXPECT_EQ(requests[1].resource_key, "");
}

TEST_F(FetchTest, GetsMemberCardsAsJsonpAndSearchPagesWithAFallback) {
    market_.set_resource("card/abc", R"({"name":"x"})");
    market_.set_resource("search/%CA%D6%BB%FA", "phones");
    market_.set_resource("search/*", "anything");
    const std::string card_path =
        "/member/ajax/memberCardJson.htm?callback=jQuery16405435396444518119_1324703458289"
        "&loginId=abc&checkLogin=y";

    EXPECT_EQ(fetch_page(url(card_path)),
              R"(jQuery16405435396444518119_1324703458289({"name":"x"}))");
    EXPECT_EQ(fetch_page(url("/company/company_search.htm?keywords=%CA%D6%BB%FA&n=y")), "phones");
    EXPECT_EQ(fetch_page(url("/company/company_search.htm?keywords=%61&n=y")), "anything");
    EXPECT_EQ(fetch_page(url("/company/company_search.htm?keywords=&n=y")), "anything");
}

// --- Many threads ----------------------------------------------------------

TEST_F(FetchTest, ParallelFetchesEachGetTheirOwnBody) {
    constexpr int kThreads = 8;
    std::vector<std::string> bodies;
    for (int i = 0; i < kThreads; ++i) {
        bodies.push_back(mixed_bytes(512 * 1024 + static_cast<std::size_t>(i) * 1000,
                                     static_cast<unsigned>(100 + i)));
        market_.set_resource("large" + std::to_string(i) + ".bin", bodies.back());
    }

    std::vector<Bytes> got(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back(
            [&, i] { got[i] = fetch_page(url("/large" + std::to_string(i) + ".bin")); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(got[i], bodies[i]) << "thread " << i;
    }
}

}  // namespace
}  // namespace qinglan
