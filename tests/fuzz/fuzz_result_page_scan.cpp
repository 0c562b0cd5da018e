// The account scan over any page a search server might send. The page is the
// whole input, zero bytes and all, as the engine gets it.
//
// Besides the plain properties of an account, the scan is replayed with a
// character walk that compares at every step; both must agree account for
// account.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/result_page_scan.h"
#include "fuzz_support.h"
#include "services/text.h"

namespace {

using qinglan::TextList;
using qinglan::fuzz::check;
using qinglan::fuzz::walk_find;

constexpr std::string_view kMark = "companyId=";
constexpr std::size_t kSkipped = kMark.size() + 1;
constexpr std::size_t kWindow = 50;

TextList walked_accounts(std::string_view page) {
    TextList accounts;
    int search_position = 1;
    for (int mark = walk_find(page, kMark, search_position + 1); mark != -1;
         mark = walk_find(page, kMark, search_position + 1)) {
        const std::size_t from = static_cast<std::size_t>(mark) - 1 + kSkipped;
        if (from < page.size()) {
            const std::string_view window = page.substr(from, kWindow);
            const int quote = walk_find(window, "\"");
            // An account leaves out the zero bytes it stands across.
            std::string account;
            if (quote > 1) {
                account = window.substr(0, static_cast<std::size_t>(quote) - 1);
                std::erase(account, '\0');
            }
            if (!account.empty()) {
                accounts.push_back(std::move(account));
            }
        }
        search_position = mark;
    }
    return accounts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    const TextList accounts = qinglan::scan_member_accounts(page);

    // Each account stands in the page right after a mark and the skipped
    // byte, in page order, and ends where a quote starts a character. Where
    // the page holds no zero byte it stands there byte for byte.
    const bool zero_free = page.find('\0') == std::string_view::npos;
    std::size_t after = 1;  // a mark at the very first byte is never searched
    for (const qinglan::Text& account : accounts) {
        check(!account.empty() && account.size() < kWindow);
        check(account.find('\0') == qinglan::Text::npos);
        if (!zero_free) {
            continue;  // a zero byte left out moves the characters after it
        }
        check(!qinglan::fuzz::walk_meets(account, '"'));
        const qinglan::Text quoted = account + '"';
        std::size_t mark = page.find(kMark, after);
        while (mark != std::string_view::npos &&
               page.compare(std::min(mark + kSkipped, page.size()), quoted.size(), quoted) != 0) {
            mark = page.find(kMark, mark + 1);
        }
        check(mark != std::string_view::npos);
        after = mark + 1;
    }

    check(accounts == walked_accounts(page));
    return 0;
}
