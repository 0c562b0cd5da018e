#include "tools/demo_pages.h"

#include <array>
#include <cstdio>
#include <string>

#include "services/charset.h"
#include "services/utf8.h"

namespace qinglan {
namespace {

struct DemoCompany {
    const char* name;
    const char* city;
    const char* person;
    const char* area_code;
    const char* salutation;  // of the person, for the shop's cards
};

constexpr std::array<DemoCompany, 8> kCompanies = {{
    {"杭州青岚贸易有限公司", "浙江省杭州市西湖区文三路", "张伟", "0571", "先生"},
    {"宁波北仑电子有限公司", "浙江省宁波市北仑区新碶街道", "王芳", "0574", "女士"},
    {"义乌小商品进出口公司", "浙江省义乌市稠城街道", "李娜", "0579", "女士"},
    {"苏州工业园精密机械厂", "江苏省苏州市工业园区星湖街", "刘洋", "0512", "先生"},
    {"深圳华强北通讯器材行", "广东省深圳市福田区华强北路", "陈静", "0755", "女士"},
    {"东莞长安五金制品厂", "广东省东莞市长安镇", "杨磊", "0769", "先生"},
    {"温州鹿城鞋业有限公司", "浙江省温州市鹿城区", "赵敏", "0577", "女士"},
    {"青岛崂山纺织品公司", "山东省青岛市崂山区香港东路", "黄强", "0532", "先生"},
}};

constexpr std::array<const char*, 6> kDepartments = {"销售部", "外贸部", "市场部",
                                                     "采购部", "总经办", "客服部"};
constexpr std::array<const char*, 5> kPositions = {"经理", "业务员", "主管", "总经理", "专员"};
constexpr std::array<const char*, 6> kMobilePrefixes = {"139", "138", "186", "159", "130", "188"};

std::string two_digits(int n) {
    std::string digits = std::to_string(n);
    if (digits.size() < 2) {
        digits.insert(digits.begin(), '0');
    }
    return digits;
}

std::string company_name(int i) {
    const DemoCompany& company = kCompanies[static_cast<std::size_t>(i) % kCompanies.size()];
    return std::string(company.name) + (i < 8 ? "" : "（" + std::to_string(i / 8 + 1) + "分公司）");
}

std::string mobile_number(int i) {
    return std::string(kMobilePrefixes[static_cast<std::size_t>(i) % kMobilePrefixes.size()]) +
           std::to_string(10000000 + i * 7654321 % 90000000);
}

// The shop's members, spread over its result pages; the first is promoted,
// so every later page lists it again at its top, as marketplaces do.
constexpr int kShopMembersPerPage = 8;

std::string shop_account(int i) {
    return "shop" + two_digits(i + 1);
}

// The first character of a name as the JSON escape some encoders write for
// it (a character of the basic plane, as every CJK character here is).
std::string escape_first_character(const std::string& text) {
    char32_t code = 0;
    const std::size_t length = decode_utf8(text, 0, &code);
    char escape[16];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
    return escape + text.substr(length);
}

std::string shop_card(int i) {
    const DemoCompany& company = kCompanies[static_cast<std::size_t>(i) % kCompanies.size()];
    const std::string account = shop_account(i);
    const std::string name = company_name(i);
    return "{\"success\":true,\"member\":{\"memberId\":\"" + account + "\",\"company\":\"" +
           (i % 4 == 1 ? escape_first_character(name) : name) + "\",\"contact\":\"" +
           company.person + "\",\"department\":\"" +
           kDepartments[static_cast<std::size_t>(i) % kDepartments.size()] + "\",\"position\":\"" +
           kPositions[static_cast<std::size_t>(i) % kPositions.size()] + "\",\"salutation\":\"" +
           company.salutation + "\",\"website\":\"" +
           (i % 3 == 2 ? "" : "http:\\/\\/www." + account + ".example.cn\\/") + "\"}}";
}

// Written as a web page editor writes it: character references, tags inside
// values, non-breaking spaces around the mobile number.
std::string shop_contact(int i) {
    const DemoCompany& company = kCompanies[static_cast<std::size_t>(i) % kCompanies.size()];
    const std::string name = company_name(i);
    const std::string area = company.area_code;
    std::string page =
        "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>联系方式 - " + name +
        "</title>\n</head>\n<body>\n<h1 class=\"company\">" + name +
        "</h1>\n<dl class=\"contact\">\n  <dt>电话</dt>\n  <dd>" + area + "-8" +
        std::to_string(1000000 + i * 4321) +
        (i % 2 == 1 ? " &#x8F6C; 80" + two_digits(i + 1) : "") + "</dd>\n";
    if (i % 4 != 3) {
        page += "  <dt>传真</dt>\n  <dd>" + area + "-8" + std::to_string(2000000 + i * 1234) +
                "</dd>\n";
    }
    page += "  <dt>手机</dt>\n  <dd>&nbsp;" + mobile_number(i) +
            "&nbsp;</dd>\n  <dt>地址</dt>\n  <dd>" + company.city + "<b>" + std::to_string(i + 1) +
            "</b>号" + (i % 2 == 1 ? " A&amp;B座" : "") + "</dd>\n  <dt>邮编</dt>\n  <dd>3" +
            std::to_string(10000 + i * 37) + "</dd>\n</dl>\n</body>\n</html>\n";
    return page;
}

std::string shop_result_item(int i, bool promoted) {
    const std::string account = shop_account(i);
    return std::string("  <li class=\"") + (promoted ? "promoted" : "company") +
           "\" data-member=\"" + account + "\">\n    <a href=\"http://" + account +
           ".shop.example.cn/\">" + company_name(i) + "</a>" + (promoted ? " <em>推广</em>" : "") +
           "\n  </li>\n";
}

// Result page `page` (from 1) for any keyword.
std::string shop_result_page(int page) {
    std::string items;
    const int first = (page - 1) * kShopMembersPerPage;
    if (first > 0) {
        items += shop_result_item(0, true);
    }
    for (int i = first; i < first + kShopMembersPerPage && i < kDemoShopMembers; ++i) {
        items += shop_result_item(i, i == 0);
    }
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>公司搜索 - "
           "示例市场（演示）</title>\n</head>\n<body>\n<ul class=\"results\">\n" +
           items + "</ul>\n<div class=\"pager\">第 " + std::to_string(page) +
           " 页</div>\n</body>\n</html>\n";
}

// The shop that sites/sample_shop.ini describes, in UTF-8, answering any
// keyword with the same members over a few result pages; the page after
// the last lists nobody (the marketplace's own shop/search/* page), which
// ends the reading.
void load_demo_shop(SampleMarketplace& market, int card_delay_ms) {
    const int pages = (kDemoShopMembers + kShopMembersPerPage - 1) / kShopMembersPerPage;
    for (int page = 1; page <= pages; ++page) {
        market.set_resource("shop/search/*/" + std::to_string(page), shop_result_page(page));
    }
    market.set_resource(
        "shop/search/*",
        "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>公司搜索 - "
        "示例市场（演示）</title>\n</head>\n<body>\n<p class=\"empty\">没有更多"
        "公司了。</p>\n</body>\n</html>\n");
    Behaviour slow;
    slow.delay_ms = card_delay_ms;
    for (int i = 0; i < kDemoShopMembers; ++i) {
        const std::string account = shop_account(i);
        market.set_resource("shop/card/" + account, shop_card(i));
        market.set_behaviour("shop/card/" + account, slow);
        market.set_resource("shop/contact/" + account, shop_contact(i));
    }
}

}  // namespace

void load_demo_pages(SampleMarketplace& market, int card_delay_ms) {
    std::string list;
    for (int i = 0; i < kDemoMembers; ++i) {
        const DemoCompany& company = kCompanies[static_cast<std::size_t>(i) % kCompanies.size()];
        const std::string account = "demo" + two_digits(i + 1);
        const std::string name = company_name(i);
        list += "<li class=\"company\"><a href=\"http://s.1688.com/offer?companyId=\"" + account +
                "\" target=\"_blank\">" + name + "</a></li>\n";

        const std::string mobile = mobile_number(i);
        std::string card = "{\"success\":true,\"data\":{\"name\":\"" + name + "\",\"address\":\"" +
                           company.city + std::to_string(i + 1) + "号\",\"zipCode\":\"3" +
                           std::to_string(10000 + i * 37) + "\",";
        if (i % 3 != 2) {
            card += "\"homePage\":\"[http://www." + account + ".example.cn]\",";
        }
        card += "\"telephone\":\"" + std::string(company.area_code) + "-8" +
                std::to_string(1000000 + i * 4321) + "\",\"fax\":\"" +
                (i % 4 == 3
                     ? std::string()
                     : std::string(company.area_code) + "-8" + std::to_string(2000000 + i * 1234)) +
                "\",\"department\":\"" +
                kDepartments[static_cast<std::size_t>(i) % kDepartments.size()] +
                "\",\"title\":\"" + kPositions[static_cast<std::size_t>(i) % kPositions.size()] +
                "\",\"sex\":\"" + (i % 2 == 0 ? "m" : "f") + "\",\"name\":\"" + company.person +
                "\",\"memberId\":\"" + account + "\",\"userId\":\"" + std::to_string(5000 + i) +
                "\"}}";
        market.set_resource("card/" + account, gbk(card));
        Behaviour slow;
        slow.delay_ms = card_delay_ms;
        market.set_behaviour("card/" + account, slow);

        const std::string title = i % 5 == 4 ? name + " 联系方式" : name + " 手机 " + mobile;
        market.set_resource("contact/" + account,
                            gbk("<html><head><title>" + title + "</title></head><body><h1>" + name +
                                "</h1><p>联系人：" + company.person + "</p></body></html>"));
    }
    market.set_resource("search/*",
                        gbk("<html><head><title>公司搜索 - 演示</title></head><body><ul>\n" + list +
                            "</ul></body></html>"));
    market.set_resource("123.txt",
                        gbk("这是演示模式：所有数据来自本机上的示例市场，不会访问网络。\r\n"
                            "点击“客服信息”，输入任意关键词并提交，即可看到采集过程。"));
    market.set_resource("up.txt", gbk("版本:v0.1|更新地址:|版本说明:演示|手动下载:|"));
    load_demo_shop(market, card_delay_ms);
}

}  // namespace qinglan
