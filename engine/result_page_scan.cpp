#include "engine/result_page_scan.h"

namespace qinglan {
namespace {

constexpr std::string_view kAccountMark = "companyId=";
// The account starts after the mark and the one byte after it, the opening
// quote, which is skipped without being checked.
constexpr int kAccountOffset = static_cast<int>(kAccountMark.size()) + 1;
// The bytes read after that for the account and its closing quote: an account
// whose quote lies further on is not read.
constexpr int kAccountWindow = 50;
// The first search starts at the page's second byte, so a mark at the very
// first byte is never read; each later one starts one byte after the mark
// before, so marks may overlap the window of the account before them.
constexpr int kFirstSearchStart = 2;
constexpr int kNextSearchStep = 1;

}  // namespace

TextList scan_member_accounts(std::string_view page_text) {
    TextList accounts;
    int search_start = kFirstSearchStart;
    for (;;) {
        const int mark = find_text(page_text, kAccountMark, search_start);
        if (mark == -1) {
            break;
        }
        const Text window = mid_text(page_text, mark + kAccountOffset, kAccountWindow);
        const int quote = find_text(window, "\"");
        Text account = drop_zero_bytes(left_text(window, quote - 1));
        if (!account.empty()) {
            accounts.push_back(std::move(account));
        }
        search_start = mark + kNextSearchStep;
    }
    return accounts;
}

}  // namespace qinglan
