#include "tools/demo_pages.h"

#include <array>
#include <string>

#include "services/charset.h"

namespace qinglan {
namespace {

struct DemoCompany {
    const char* name;
    const char* city;
    const char* person;
    const char* area_code;
};

constexpr std::array<DemoCompany, 8> kCompanies = {{
    {"杭州青岚贸易有限公司", "浙江省杭州市西湖区文三路", "张伟", "0571"},
    {"宁波北仑电子有限公司", "浙江省宁波市北仑区新碶街道", "王芳", "0574"},
    {"义乌小商品进出口公司", "浙江省义乌市稠城街道", "李娜", "0579"},
    {"苏州工业园精密机械厂", "江苏省苏州市工业园区星湖街", "刘洋", "0512"},
    {"深圳华强北通讯器材行", "广东省深圳市福田区华强北路", "陈静", "0755"},
    {"东莞长安五金制品厂", "广东省东莞市长安镇", "杨磊", "0769"},
    {"温州鹿城鞋业有限公司", "浙江省温州市鹿城区", "赵敏", "0577"},
    {"青岛崂山纺织品公司", "山东省青岛市崂山区香港东路", "黄强", "0532"},
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

}  // namespace

void load_demo_pages(SampleMarketplace& market, int card_delay_ms) {
    std::string list;
    for (int i = 0; i < kDemoMembers; ++i) {
        const DemoCompany& company = kCompanies[static_cast<std::size_t>(i) % kCompanies.size()];
        const std::string account = "demo" + two_digits(i + 1);
        const std::string name = std::string(company.name) +
                                 (i < 8 ? "" : "（" + std::to_string(i / 8 + 1) + "分公司）");
        list += "<li class=\"company\"><a href=\"http://s.1688.com/offer?companyId=\"" + account +
                "\" target=\"_blank\">" + name + "</a></li>\n";

        const std::string mobile =
            std::string(kMobilePrefixes[static_cast<std::size_t>(i) % kMobilePrefixes.size()]) +
            std::to_string(10000000 + i * 7654321 % 90000000);
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
}

}  // namespace qinglan
