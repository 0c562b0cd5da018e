#pragma once

// What the sample shop's saved pages hold, for the tests that cut them.

#include "services/contact_record.h"

namespace qinglan {

// The twelve fields of the member mingqian (UTF-8), from its JSON card and
// its contact page.
inline const ContactRecord kMingqianRecord = {
    "杭州明前茶业有限公司",
    "陈新",
    "mingqian",
    "外贸部",
    "销售/市场经理",
    "先生",
    "0571-87654321 转 8001",
    "0571-87654322",
    "138 0013 8000",
    "浙江省杭州市西湖区龙井路新村18号 A&B座",
    "310000",
    "http://mingqian.example.cn/",
};

}  // namespace qinglan
