// The admission rule of the page budget, without a transfer: how many
// transfers may hold a page at the cap at once, when the cap changes while
// some run, and when the budget is smaller than one page.

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "services/page_budget.h"

namespace qinglan {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Starts transfers while the budget has room, each at `cap`; what each took.
std::vector<std::size_t> fill(PageBudget& budget, std::size_t cap, std::size_t limit) {
    std::vector<std::size_t> taken;
    while (budget.has_room(cap, limit) && taken.size() < 1000) {
        taken.push_back(budget.reserve(cap));
    }
    return taken;
}

TEST(PageBudgetTest, AdmitsAsManyPagesAtTheCapAsFit) {
    PageBudget budget;
    std::vector<std::size_t> taken = fill(budget, 16 * kMiB, 256 * kMiB);
    EXPECT_EQ(taken.size(), 16U);
    EXPECT_EQ(budget.reserved(), 256 * kMiB);

    // A smaller cap fits nothing more until pages of the larger one are
    // given back, each with what it took.
    EXPECT_FALSE(budget.has_room(1 * kMiB, 256 * kMiB));
    budget.release(taken.back());
    taken.pop_back();
    const std::vector<std::size_t> small = fill(budget, 1 * kMiB, 256 * kMiB);
    EXPECT_EQ(small.size(), 16U);
    for (const std::size_t bytes : small) {
        budget.release(bytes);
    }
    for (const std::size_t bytes : taken) {
        budget.release(bytes);
    }
    EXPECT_EQ(budget.reserved(), 0U);
}

TEST(PageBudgetTest, ABudgetBelowOnePageStillLetsOneTransferRun) {
    PageBudget budget;
    EXPECT_EQ(fill(budget, 16 * kMiB, 8 * kMiB).size(), 1U);

    // No cap, or no budget: nothing to hold back.
    PageBudget open;
    EXPECT_EQ(fill(open, 0, 256 * kMiB).size(), 1000U);
    PageBudget unlimited;
    EXPECT_EQ(fill(unlimited, 16 * kMiB, 0).size(), 1000U);
}

}  // namespace
}  // namespace qinglan
