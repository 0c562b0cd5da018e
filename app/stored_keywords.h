#pragma once

// What the search window shows of the stored keywords: each one's row count
// and whether its collection is complete.

#include <string>
#include <vector>

namespace qinglan {

class RecordStore;

struct StoredKeyword {
    std::string name;
    long long rows = -1;  // -1: could not be counted
    bool complete = true;
    int members = 0;  // of its member list, when known
    int stored = 0;   // of those, stored
};

// The keywords `names`, in that order, as `store` holds them now.
std::vector<StoredKeyword> read_stored_keywords(RecordStore& store,
                                                const std::vector<std::string>& names);

}  // namespace qinglan
