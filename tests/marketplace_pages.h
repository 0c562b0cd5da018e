#pragma once

// Pages for the sample marketplace that tests build on the fly.

#include <string>

#include "engine/request.h"
#include "services/charset.h"
#include "tools/sample_marketplace.h"

namespace qinglan {

// A search page for `keyword` (UTF-8) listing `count` members named
// prefix0, prefix1, ..., each with a small GBK card that answers after
// `card_delay_ms`. Their contact pages are not served.
inline void serve_members(SampleMarketplace& market, const std::string& keyword,
                          const std::string& prefix, int count, int card_delay_ms = 0) {
    std::string page = "<p>";
    Behaviour slow;
    slow.delay_ms = card_delay_ms;
    for (int i = 0; i < count; ++i) {
        const std::string account = prefix + std::to_string(i);
        page += " companyId=\"" + account + "\"";
        market.set_resource("card/" + account, gbk("{\"name\":\"公司" + account +
                                                   "\",\"memberId\":\"" + account + "\",\"x\":1}"));
        market.set_behaviour("card/" + account, slow);
    }
    market.set_resource("search/" + encode_keyword(utf8_to_gbk(keyword)), page);
}

}  // namespace qinglan
