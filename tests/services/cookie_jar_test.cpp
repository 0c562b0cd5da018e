// Which of a cookies file's cookies a request carries (host and its
// domains, path, https, expiry, order), and which lines are refused.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/cookie_jar.h"

namespace qinglan {
namespace {

constexpr std::int64_t kNow = 1700000000;

void add_cookies(CookieJar& jar, const std::string& text) {
    std::vector<Cookie> cookies;
    std::string error;
    EXPECT_TRUE(parse_cookies(text, &cookies, &error)) << error;
    jar.add(std::move(cookies));
}

TEST(CookieJarTest, SendsWhatMatchesTheHostThePathTheSchemeAndTheTime) {
    CookieJar jar;
    add_cookies(jar,
                "\xEF\xBB\xBF# Netscape HTTP Cookie File\n"
                ".example.com\tTRUE\t/\tFALSE\t0\twide\t1\n"
                "example.com\tFALSE\t/\tFALSE\t0\tnarrow\t2\n"
                "Shop.Example.com\tFALSE\t/cart\tFALSE\t0\tcart\t3\n"
                "example.com\tTRUE\t/\tTRUE\t0\tsecure\t4\n"
                "example.com\tTRUE\t/\tFALSE\t1699999999\told\t5\n"
                "example.com\tTRUE\t/\tFALSE\t1700000001\tfresh\t6\n"
                "#HttpOnly_127.0.0.1\tTRUE\t/\tFALSE\t0\tlocal\t7\r\n");

    EXPECT_EQ(jar.header_for("http://example.com/", kNow), "wide=1; narrow=2; fresh=6");
    EXPECT_EQ(jar.header_for("https://EXAMPLE.com:8443/x?y", kNow),
              "wide=1; narrow=2; secure=4; fresh=6");
    // Longer paths first; a path matches only whole segments.
    EXPECT_EQ(jar.header_for("http://shop.example.com/cart/1", kNow), "cart=3; wide=1; fresh=6");
    EXPECT_EQ(jar.header_for("http://shop.example.com/cartoon", kNow), "wide=1; fresh=6");
    EXPECT_EQ(jar.header_for("http://user@example.com.evil/", kNow), "");
    EXPECT_EQ(jar.header_for("http://notexample.com/", kNow), "");
    EXPECT_EQ(jar.header_for("http://127.0.0.1:8080/a", kNow), "local=7");
    // An address has no subdomains.
    EXPECT_EQ(jar.header_for("http://1.127.0.0.1/", kNow), "");
}

TEST(CookieJarTest, ALaterCookieOfTheSameNameReplacesTheEarlier) {
    CookieJar jar;
    add_cookies(jar,
                "example.com\tFALSE\t/\tFALSE\t0\ta\t1\n"
                "example.com\tFALSE\t/\tFALSE\t0\ta\t2\n"
                "example.com\tFALSE\t/x\tFALSE\t0\ta\t3\n");
    EXPECT_EQ(jar.size(), 2U);
    EXPECT_EQ(jar.header_for("http://example.com/x", kNow), "a=3; a=2");
}

TEST(CookieJarTest, RefusesALineThatIsNoCookieByItsNumber) {
    const std::string good = "example.com\tFALSE\t/\tFALSE\t0\tname\tvalue\n";
    const std::vector<std::string> bad = {
        "example.com\tFALSE\t/\tFALSE\tsoon\tname\tvalue",      // expiry
        "example.com\tFALSE\t/\tFALSE\t-1\tname\tvalue",        // expiry
        "example.com\tMAYBE\t/\tFALSE\t0\tname\tvalue",         // flag
        "example.com\tFALSE\tpath\tFALSE\t0\tname\tvalue",      // path
        "\tFALSE\t/\tFALSE\t0\tname\tvalue",                    // domain
        "example.com\tFALSE\t/\tFALSE\t0\tname\tval\rue",       // a control character
        "example.com\tFALSE\t/\tFALSE\t0\tname\tvalue; x=1",    // another cookie in it
        "example.com\tFALSE\t/\tFALSE\t0\tname\tvalue\textra",  // eight fields
        "example.com FALSE / FALSE 0 name value",
    };
    for (const std::string& line : bad) {
        std::vector<Cookie> cookies;
        std::string error;
        EXPECT_FALSE(parse_cookies(good + "\n# comment\n" + line + "\n" + good, &cookies, &error))
            << line;
        EXPECT_EQ(error.rfind("line 4: ", 0), 0U) << error;
        EXPECT_TRUE(cookies.empty());
    }
}

TEST(CookieJarTest, RefusesMoreCookiesThanTheLimitAsSoonAsItPassesIt) {
    std::string text;
    for (std::size_t i = 0; i <= kMaxCookies; ++i) {
        text += "example.com\tFALSE\t/\tFALSE\t0\tc" + std::to_string(i) + "\tv\n";
    }
    text += "not a cookie, never reached\n";
    std::vector<Cookie> cookies;
    std::string error;
    EXPECT_FALSE(parse_cookies(text, &cookies, &error));
    EXPECT_EQ(error, "line " + std::to_string(kMaxCookies + 1) + ": more than " +
                         std::to_string(kMaxCookies) +
                         " cookies, the most a cookies file may hold");
}

}  // namespace
}  // namespace qinglan
