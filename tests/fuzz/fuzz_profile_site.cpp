// A profile's site reading a page it fetched: the first byte picks the
// profile's charset (odd: gbk), the rest is the page as it arrived. Every
// account and field it cuts must come back byte for byte from the UTF-8 the
// storage makes of it, so nothing it stores is lost or silently changed, and
// holds no zero byte.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/site/profile_site.h"
#include "engine/site/site_profile.h"
#include "fuzz_support.h"
#include "services/charset.h"

namespace {

using qinglan::fuzz::check;

// An account pattern that also matches nothing, so that the search steps
// over whole characters; classes and `.` of characters; a JSON and an HTML
// field on the same page.
std::string profile_text(std::string_view charset) {
    return std::string("[site]\nname = 模糊\ncharset = ") + std::string(charset) +
           "\n[search]\nurl = http://{search_host}/s?q={keyword}\n"
           "account = ([茶叶a-z]*)\n"
           "[member]\np = http://{member_host}/m/{account}\n"
           "[fields]\n"
           "公司名称 = p \"company\"\\s*:\\s*\"((?:[^\"\\\\]|\\\\.)*)\"\n"
           "联系人 = p <dd>(.*?)</dd>\n"
           "地址 = p 地址[：:](.)\n"
           "用户账号 = p ([^\\x00-\\x7F]+)\n";
}

const qinglan::ProfileSite& site(bool gbk) {
    static const auto make = [](std::string_view charset) {
        std::string error;
        std::optional<qinglan::SiteProfile> profile =
            qinglan::load_site_profile(profile_text(charset), "fuzz.ini", &error);
        check(profile.has_value());
        return std::make_unique<qinglan::ProfileSite>(std::move(*profile));
    };
    static const auto utf8_site = make("utf-8");
    static const auto gbk_site = make("gbk");
    return gbk ? *gbk_site : *utf8_site;
}

void check_value(const qinglan::Text& value) {
    check(value.find('\0') == std::string::npos);
    check(qinglan::utf8_to_gbk(qinglan::gbk_to_utf8(value)) == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const qinglan::ProfileSite& profile_site = site((data[0] & 1) != 0);
    const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
    const qinglan::Text page = profile_site.page_text(body, "text/html");
    const qinglan::TextList accounts = profile_site.accounts(page);
    // An empty match steps one character on: no more matches than characters, plus one.
    check(accounts.size() <= page.size() + 1);
    for (const qinglan::Text& account : accounts) {
        check_value(account);
    }
    const qinglan::ContactRecord record = profile_site.record("acc", {page}, {});
    for (const std::string& field : record) {
        check_value(field);
    }
    return 0;
}
