#pragma once

// The built-in pages of the demo mode: a small marketplace whose search page
// answers any keyword with the same two dozen member companies, their cards
// and contact pages, and an update server that announces this very version,
// so a whole collection can be watched without any network. The same server
// is the UTF-8 shop of sites/sample_shop.ini too: any keyword gets two dozen
// members over a few result pages that repeat a promoted member, so a
// collection with that profile can be watched the same way.

#include "tools/sample_marketplace.h"

namespace qinglan {

inline constexpr int kDemoMembers = 24;
inline constexpr int kDemoShopMembers = 24;

// Loads the pages of both shapes into `market`; cards answer after
// `card_delay_ms`, so the progress can be followed.
void load_demo_pages(SampleMarketplace& market, int card_delay_ms = 120);

}  // namespace qinglan
