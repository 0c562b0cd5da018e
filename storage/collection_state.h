#pragma once

// How far a keyword's collection got. A keyword is complete when its result
// pages are read and every member of its member list is stored. Tables stored before states were
// kept, and the first table "123", have no state and count as complete.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace qinglan {

// The name of the site every keyword was collected from before a keyword
// kept the name of its site: the marketplace the program knows by itself.
inline constexpr std::string_view kBuiltInSiteName = "内置";

struct CollectionState {
    bool tracked = false;              // a state is kept for the keyword
    bool listed = false;               // its member list, read from its search page, is saved
    std::vector<std::string> members;  // the member accounts in page order, as the page had them
    std::vector<bool> stored;          // per member: its row is stored
    // The result page to read next, its accounts to be added to the list;
    // 0 once the reading has ended.
    int next_page = 0;
    // The name of the site (profile) the keyword was collected from; its
    // member list and rows mean nothing under another one.
    std::string site{kBuiltInSiteName};

    bool complete() const {
        return !tracked || (listed && next_page == 0 &&
                            std::all_of(stored.begin(), stored.end(), [](bool s) { return s; }));
    }
    int stored_count() const {
        return static_cast<int>(std::count(stored.begin(), stored.end(), true));
    }
};

}  // namespace qinglan
