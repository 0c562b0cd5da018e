#pragma once

// Trying a site profile on pages saved from a browser (or kept by `collect
// --save-pages`), without a network: what the profile's rules cut out of
// each page, so that whoever writes the profile sees at once which rule
// misses.

#include <string>
#include <vector>

namespace qinglan {

// `qinglan site-check FILE [--search PAGE] [--member NAME=PAGE]...`, given
// the words after "site-check". Prints, for each page, whether it is a
// block page and what the rules cut from it: a result page's accounts, a
// member page's fields; with no page, the profile's summary. Returns 0 when
// every rule found something, 1 when the account pattern finds no account
// or a field's pattern matches nothing on its page (said on stderr), 2 for
// a profile that does not load or bad usage (an unknown option, a page name
// the profile lacks, a page file that cannot be read).
int run_site_check(const std::vector<std::string>& args);

}  // namespace qinglan
