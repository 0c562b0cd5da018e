#pragma once

// How the sample marketplace maps a request to a resource key, and a key to
// a file of a served folder. Keys name what the marketplace serves:
//   search/K    the company search page for the keyword K, exactly as the
//               query carries it (percent-encoded); search/* answers any
//               keyword that has no page of its own (in a folder, the file
//               search/any_keyword.html)
//   card/ID     the member card of the account ID (the JSON object; the
//               answer wraps it in the request's JSONP callback)
//   contact/A   the contact page of the account A, asked of the host A.<domain>
//   anything    any other path without its leading "/" (123.txt, up.txt)
//
// The marketplace also serves a second, smaller shop of another shape, whose
// pages are UTF-8 and whose paths all start with /shop/:
//   shop/search/K/N  result page N of the keyword K (/shop/search?q=K&page=N,
//                    K as the query carries it; no page means 1);
//                    shop/search/*/N answers page N of any keyword without
//                    a page of its own (the demo's result pages), and
//                    shop/search/* any keyword or page that has neither,
//                    with a page that lists nobody
//   shop/card/A      the JSON card of the account A (/shop/card/A.json)
//   shop/contact/A   the contact page of A (/shop/contact.html asked of the
//                    host A.<domain>)
// Each route of a search, card or contact page also names the verification
// page that stands in for it while a behaviour has the marketplace block the
// client (Behaviour::block_times): blocked/search.html for search pages,
// blocked/member.html for cards and contact pages, and the same under shop/
// for the shop.

#include <string>
#include <string_view>

#include "tools/received_request.h"

namespace qinglan {

struct MarketplaceRoute {
    std::string key;           // empty: nothing can answer the request (404)
    std::string fallback_key;  // tried when `key` has no resource; may be empty
    // Tried between `key` and `fallback_key`: the shop's page of the same
    // number for any keyword (shop/search/*/N); may be empty.
    std::string page_fallback_key;
    std::string callback;   // member cards: the JSONP function to wrap the body in
    std::string block_key;  // the verification page answered instead while blocking
};

MarketplaceRoute route_request(const ReceivedRequest& request);

// The file that holds `key` in the folder `dir`: search/K is dir/search/K.html,
// card/ID dir/card/ID.json, contact/A dir/contact/A.html (and the same under
// dir/shop/ for the shop's keys, shop/search/K/N being dir/shop/search/K/N.html
// shop/search/*/N dir/shop/search/any_keyword/N.html and shop/search/*
// dir/shop/search/any_keyword.html), any other key
// dir/<key>. The empty text for an empty key or one with a ".." segment, so
// no request reaches outside the folder.
std::string folder_file(std::string_view dir, std::string_view key);

// The content type a resource is served with unless told otherwise.
std::string default_content_type(std::string_view key);

}  // namespace qinglan
