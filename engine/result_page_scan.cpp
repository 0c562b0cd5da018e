#include "engine/result_page_scan.h"

namespace qinglan {
namespace {

constexpr std::string_view kAccountMark = "companyId=";
constexpr int kAccountOffset = 11;  // the mark and the byte after it
constexpr int kAccountWindow = 50;

}  // namespace

TextList scan_member_accounts(std::string_view page_text) {
    TextList accounts;
    int search_position = 1;
    for (;;) {
        const int mark = find_text(page_text, kAccountMark, search_position + 1);
        if (mark == -1) {
            break;
        }
        const Text window = mid_text(page_text, mark + kAccountOffset, kAccountWindow);
        const int quote = find_text(window, "\"");
        Text account = drop_zero_bytes(left_text(window, quote - 1));
        if (!account.empty()) {
            accounts.push_back(std::move(account));
        }
        search_position = mark;
    }
    return accounts;
}

}  // namespace qinglan
