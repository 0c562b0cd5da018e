#pragma once

// Addresses of the three requests the engine makes: the company search page
// of a keyword, the member card of an account and the contact page of an
// account. The paths and queries are fixed; the hosts are configuration.

#include <string>
#include <string_view>

#include "services/text.h"

namespace qinglan {

// Where the marketplace lives. Each value is a host with an optional ":port",
// optionally preceded by "https://" (without it requests use http).
struct MarketHosts {
    std::string search_host = "s.1688.com";
    std::string member_host = "member.1688.com";
    std::string contact_domain = "cn.alibaba.com";
};

enum RequestKind : int {
    kContactPage = 1,
    kMemberCard = 2,
    kSearchPage = 3,
};

// Every byte of the keyword's GBK form as "%XX" with upper-case digits. A
// keyword holding a character outside GB2312 encodes to the empty text.
Text encode_keyword(std::string_view keyword_gbk);

// The request address of `kind` with `value` put in place of every "*" of its
// template, inserted exactly as passed. Any other kind gives the empty text.
// The contact page's host is the value, a dot and the contact domain.
Text fill_request_template(const MarketHosts& hosts, std::string_view value, int kind);

}  // namespace qinglan
