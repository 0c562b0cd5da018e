#pragma once

// Everything the engine knows about a marketplace: where its result pages
// and member pages are, how accounts are cut from a result page, and how a
// member's record is cut from its pages. The engine asks a Site and nothing
// else, so another marketplace (or the same one after it changed its pages)
// is another Site, not another engine.
//
// Texts are GBK inside the engine: a site hands out its page texts, accounts
// and record fields in GBK whatever its pages are sent in. A Site is shared
// by running tasks and read from several threads: every member is const and
// safe to call at once.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/request.h"
#include "services/contact_record.h"
#include "services/text.h"

namespace qinglan {

// Called with each field of a record as soon as its value (GBK) is known.
using CellSink = std::function<void(int field, const Text& value)>;

// One of the pages fetched for each member.
struct MemberPage {
    std::string name;   // how the site names it, e.g. "card"
    std::string label;  // how a failure names it: "<label> of <account>: <reason>"
};

class Site {
public:
    virtual ~Site() = default;

    // How the user knows the site (UTF-8).
    virtual std::string name() const = 0;

    // How many result pages of one keyword are read at most: 1 or more.
    virtual int pages() const = 0;

    // The address of result page `page` (1-based) of a keyword as typed
    // (UTF-8), or false with why the site cannot be asked for it (UTF-8).
    // A keyword refused here is never searched, under any other spelling.
    virtual bool search_address(const MarketHosts& hosts, const std::string& keyword, int page,
                                Text* address, std::string* refusal) const = 0;

    // The text of a fetched page as the site's other rules read it.
    virtual Text page_text(std::string_view body, std::string_view content_type) const = 0;

    // The member accounts of a result page's text, in page order.
    virtual TextList accounts(std::string_view result_page) const = 0;

    // Whether an account may be put into the member pages' addresses; one
    // that may not is a failed member, asked for nothing.
    virtual bool requestable(std::string_view account) const = 0;

    // The pages of each member in the order they are asked for; never empty.
    virtual const std::vector<MemberPage>& member_pages() const = 0;

    // The address of member page `page` (an index of member_pages()).
    virtual Text member_page_address(const MarketHosts& hosts, std::size_t page,
                                     std::string_view account) const = 0;

    // Whether a fetched page (its text, page_text) is one the site sends in
    // place of the page asked for, to make a client prove it is a person or
    // log in: such a page is no answer and is asked for again later.
    // `search_page` tells a result page from a member page; `keyword` is the
    // keyword as typed (UTF-8), which may itself hold a word such pages use.
    virtual bool blocked(std::string_view page, bool search_page,
                         std::string_view keyword) const = 0;

    // Whether any page of the kind could be a block page at all: when not,
    // its answers are taken as they come, without reading them for it.
    virtual bool may_block(bool search_page) const = 0;

    // The member's record (GBK fields) from the texts of its pages, one per
    // member page in the same order; `on_cell` hears each field in record
    // order as it is cut.
    virtual ContactRecord record(std::string_view account, const TextList& pages,
                                 const CellSink& on_cell) const = 0;
};

}  // namespace qinglan
