#include "engine/site/built_in_site.h"

#include "engine/member_card_parser.h"
#include "engine/page_text.h"
#include "engine/result_page_scan.h"
#include "engine/site/field_text.h"
#include "services/charset.h"

namespace qinglan {
namespace {

constexpr std::size_t kCardIndex = 0;
constexpr std::size_t kContactIndex = 1;

}  // namespace

BuiltInSite::BuiltInSite()
    : member_pages_{{"card", "card"}, {"contact", "contact page"}},
      mobile_prefixes_(load_mobile_prefixes()) {}

bool BuiltInSite::search_address(const MarketHosts& hosts, const std::string& keyword, int /*page*/,
                                 Text* address, std::string* refusal) const {
    Text keyword_gbk;
    if (!keyword_to_gbk(keyword, &keyword_gbk, refusal)) {
        return false;
    }
    *address = fill_request_template(hosts, encode_keyword(keyword_gbk), kSearchPage);
    return true;
}

Text BuiltInSite::page_text(std::string_view body, std::string_view content_type) const {
    return qinglan::page_text(body, content_type);
}

TextList BuiltInSite::accounts(std::string_view result_page) const {
    return scan_member_accounts(result_page);
}

// Only a result page is looked at, by its title: the member pages are
// data, and a result page that lists anyone is an answer whatever its title.
bool BuiltInSite::blocked(std::string_view page, bool search_page, std::string_view keyword) const {
    if (!search_page || !scan_member_accounts(page).empty()) {
        return false;
    }
    return title_asks_to_verify(gbk_to_utf8(page_title(page)), keyword);
}

bool BuiltInSite::requestable(std::string_view account) const {
    return account_requestable(account);
}

Text BuiltInSite::member_page_address(const MarketHosts& hosts, std::size_t page,
                                      std::string_view account) const {
    switch (page) {
        case kCardIndex:
            return fill_request_template(hosts, account, kMemberCard);
        case kContactIndex:
            return fill_request_template(hosts, account, kContactPage);
        default:
            return {};
    }
}

ContactRecord BuiltInSite::record(std::string_view /*account*/, const TextList& pages,
                                  const CellSink& on_cell) const {
    const std::string_view card =
        pages.size() > kCardIndex ? std::string_view(pages[kCardIndex]) : std::string_view();
    const std::string_view contact =
        pages.size() > kContactIndex ? std::string_view(pages[kContactIndex]) : std::string_view();
    return extract_contact_record(card, contact, mobile_prefixes_, on_cell);
}

std::shared_ptr<const Site> built_in_site() {
    static const std::shared_ptr<const Site> site = std::make_shared<BuiltInSite>();
    return site;
}

}  // namespace qinglan
