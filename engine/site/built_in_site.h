#pragma once

// The marketplace the program was made for, with its rules compiled in: a
// search page of one result page per keyword (the keyword in GBK), a member
// card (JSONP) and a contact page per account.

#include <memory>

#include "engine/site/site.h"
#include "storage/collection_state.h"

namespace qinglan {

class BuiltInSite : public Site {
public:
    BuiltInSite();

    std::string name() const override { return std::string(kBuiltInSiteName); }
    int pages() const override { return 1; }
    bool search_address(const MarketHosts& hosts, const std::string& keyword, int page,
                        Text* address, std::string* refusal) const override;
    Text page_text(std::string_view body, std::string_view content_type) const override;
    TextList accounts(std::string_view result_page) const override;
    bool requestable(std::string_view account) const override;
    const std::vector<MemberPage>& member_pages() const override { return member_pages_; }
    Text member_page_address(const MarketHosts& hosts, std::size_t page,
                             std::string_view account) const override;
    bool blocked(std::string_view page, bool search_page, std::string_view keyword) const override;
    // Only its result pages are ever block pages.
    bool may_block(bool search_page) const override { return search_page; }
    ContactRecord record(std::string_view account, const TextList& pages,
                         const CellSink& on_cell) const override;

private:
    const std::vector<MemberPage> member_pages_;
    const TextList mobile_prefixes_;
};

// The one built-in site, shared by every engine that is given no other.
std::shared_ptr<const Site> built_in_site();

}  // namespace qinglan
