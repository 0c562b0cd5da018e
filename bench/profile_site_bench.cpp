// Speed of cutting a member's record with a site profile of twelve fields:
// both pages cross from GB18030 to UTF-8, twelve patterns run over them and
// every value is cleaned and converted back. Once with pages the size of the
// sample shop's, once with 16 KiB of markup before the contact details.

#include <benchmark/benchmark.h>

#include <optional>
#include <string>

#include "engine/site/profile_site.h"
#include "engine/site/site_profile.h"

namespace {

constexpr char kProfile[] = R"ini([site]
name = 基准
charset = utf-8
[search]
url = http://{search_host}/shop/search?q={keyword}&page={page}
account = data-member="([^"]+)"
[member]
card = http://{member_host}/shop/card/{account}.json
contact = http://{account}.{contact_domain}/shop/contact.html
[fields]
公司名称 = card "company"\s*:\s*"((?:[^"\\]|\\.)*)"
联系人 = card "contact"\s*:\s*"((?:[^"\\]|\\.)*)"
用户账号 = card "memberId"\s*:\s*"((?:[^"\\]|\\.)*)"
部门 = card "department"\s*:\s*"((?:[^"\\]|\\.)*)"
职位 = card "position"\s*:\s*"((?:[^"\\]|\\.)*)"
称呼 = card "salutation"\s*:\s*"((?:[^"\\]|\\.)*)"
电话 = contact <dt>电话</dt>\s*<dd>(.*?)</dd>
传真 = contact <dt>传真</dt>\s*<dd>(.*?)</dd>
移动电话 = contact <dt>手机</dt>\s*<dd>(.*?)</dd>
地址 = contact <dt>地址</dt>\s*<dd>(.*?)</dd>
邮编 = contact <dt>邮编</dt>\s*<dd>(.*?)</dd>
网站 = card "website"\s*:\s*"((?:[^"\\]|\\.)*)"
)ini";

constexpr char kCard[] =
    R"({"success":true,"member":{"memberId":"mingqian","company":"\u676d\u5dde明前茶业有限公司",)"
    R"("contact":"陈\u65b0","department":"\u5916\u8d38\u90e8","position":"\u9500售\/市场\u7ecf理",)"
    R"("salutation":"先生","website":"http:\/\/mingqian.example.cn\/"}})";

std::string contact_page(std::size_t filler_bytes) {
    std::string page =
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
        "<title>联系方式 - 杭州明前茶业有限公司</title></head><body>";
    while (page.size() < filler_bytes) {
        page += "<div class=\"nav\"><a href=\"/p\">产品中心</a> <span>茶叶 绿茶</span></div>\n";
    }
    page += R"(<dl class="contact"><dt>电话</dt><dd>0571-87654321 &#x8F6C; 8001</dd>
<dt>传真</dt><dd>0571-87654322</dd><dt>手机</dt><dd>&nbsp;138 0013 8000&nbsp;</dd>
<dt>地址</dt><dd>浙江省杭州市西湖区龙井路<b>&#26032;村</b>18号 A&amp;B座</dd>
<dt>邮编</dt><dd>310000</dd></dl></body></html>)";
    return page;
}

void BM_ProfileRecord(benchmark::State& state) {
    std::string error;
    std::optional<qinglan::SiteProfile> profile =
        qinglan::load_site_profile(kProfile, "bench.ini", &error);
    if (!profile) {
        state.SkipWithError(error.c_str());
        return;
    }
    const qinglan::ProfileSite site(std::move(*profile));
    const qinglan::TextList pages = {
        site.page_text(kCard, "application/json"),
        site.page_text(contact_page(static_cast<std::size_t>(state.range(0))), "text/html")};
    for (auto _ : state) {
        const qinglan::ContactRecord record = site.record("mingqian", pages, {});
        benchmark::DoNotOptimize(record.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ProfileRecord)->Arg(0)->Arg(16 << 10)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
