#include "engine/request.h"

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
    Text encoded;
    encoded.reserve(keyword_gbk.size() * 3);
    for (const char byte : keyword_gbk) {
        const Text digits = hex_text(static_cast<unsigned char>(byte));
        encoded += '%';
        if (digits.size() < 2) {
            encoded += '0';
        }
        encoded += digits;
    }
    return encoded;
}

bool account_requestable(std::string_view account) {
    constexpr std::string_view kSteering = "/?#@:\\% ";
    for (const char c : account) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || kSteering.find(c) != std::string_view::npos) {
            return false;
        }
    }
    return true;
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
