#pragma once

// The bytes of pages that running transfers may hold at once. A transfer
// may hold up to a page at the cap before it is given up on, so each one
// takes that much when it starts and gives it back when its body is handed
// over; another starts only while a page at the cap still fits. One
// transfer may always run, so a budget below the cap makes transfers go one
// at a time but never stops them. A cap or a budget of zero is no limit.
//
// The transfer loop's thread alone uses it.

#include <cstddef>

namespace qinglan {

class PageBudget {
public:
    // True when a transfer whose page may reach `cap` bytes may start now.
    bool has_room(std::size_t cap, std::size_t budget) const {
        if (cap == 0 || budget == 0 || holders_ == 0) {
            return true;
        }
        return reserved_ <= budget && cap <= budget - reserved_;
    }

    // What a starting transfer takes; the same amount goes back when it
    // ends, whatever the cap is by then.
    std::size_t reserve(std::size_t cap) {
        reserved_ += cap;
        ++holders_;
        return cap;
    }

    void release(std::size_t bytes) {
        reserved_ -= bytes;
        --holders_;
    }

    std::size_t reserved() const { return reserved_; }

private:
    std::size_t reserved_ = 0;
    int holders_ = 0;
};

}  // namespace qinglan
