#include "engine/request.h"

#include "services/charset.h"
#include "services/fetch.h"

namespace qinglan {
namespace {

Text request_template(const MarketHosts& hosts, int kind) {
    switch (kind) {
        case kContactPage:
            return host_address(hosts.contact_domain, "*.") + "/athena/contact/*.html";
        case kMemberCard:
            return host_address(hosts.member_host) +
                   "/member/ajax/memberCardJson.htm?callback="
                   "jQuery16405435396444518119_1324703458289&loginId=*&checkLogin=y";
        case kSearchPage:
            return host_address(hosts.search_host) + "/company/company_search.htm?keywords=*&n=y";
        default:
            return {};
    }
}

}  // namespace

Text encode_keyword(std::string_view keyword_gbk) {
    // Converting GB2312 to itself keeps ASCII and GB2312 text as it is and
    // rejects, as a whole, a keyword with any character GB2312 lacks.
    const Bytes checked = convert_charset(keyword_gbk, "GB2312", "GB2312");
    Text encoded;
    encoded.reserve(checked.size() * 3);
    for (const char byte : checked) {
        const Text digits = hex_text(static_cast<unsigned char>(byte));
        encoded += '%';
        if (digits.size() < 2) {
            encoded += '0';
        }
        encoded += digits;
    }
    return encoded;
}

Text fill_request_template(const MarketHosts& hosts, std::string_view value, int kind) {
    Text filled = request_template(hosts, kind);
    // Only the template's own "*" are placeholders: each scan continues after
    // the value just put in.
    int position = find_text(filled, "*");
    while (position != -1) {
        filled = replace_range(filled, position, 1, value);
        position = find_text(filled, "*", position + static_cast<int>(value.size()));
    }
    return filled;
}

}  // namespace qinglan
