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

// Every byte of the keyword's GBK form (keyword_to_gbk) as "%XX" with
// upper-case digits; only the empty keyword encodes to the empty text.
Text encode_keyword(std::string_view keyword_gbk);

// Whether an account cut from a page may be put into the requests as it is.
// An account holding "/ ? # @ : \ %", a blank or a control character would
// change where a request goes (another host, port, path or user), so it is
// not requested at all; every other account, GBK bytes included, is.
bool account_requestable(std::string_view account);

// The request address of `kind` with `value` put in place of every "*" of its
// template, inserted exactly as passed. Any other kind gives the empty text.
// The contact page's host is the value, a dot and the contact domain.
Text fill_request_template(const MarketHosts& hosts, std::string_view value, int kind);

}  // namespace qinglan
