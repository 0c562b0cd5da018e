#pragma once

// Keeping the pages a collection fetches, byte for byte as they arrived, in
// a folder, so that whoever writes or mends a site's rules can read what the
// site really sent (block pages and error answers included) and try the
// rules on it without a network.
//
// Result page N of a keyword is `search-KEYWORD-N.html`, page NAME of a
// member `ACCOUNT-NAME.html`; a page fetched again replaces its file. The
// names are safe on any file system whatever a keyword or an account holds,
// and never longer than kMaxSavedNameBytes.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "services/fetch.h"
#include "services/text.h"

namespace qinglan {

inline constexpr std::size_t kMaxSavedNameBytes = 200;

// `text` (UTF-8) with `/`, `\`, `%`, the control characters (C0, DEL and
// C1) and every byte that is not UTF-8 written as `%XX`, each byte of them
// in upper-case hexadecimal: nothing in it can leave the folder, hide from a
// listing or make the name ambiguous.
std::string escape_name_part(std::string_view text);

// `name` as it is when it holds at most kMaxSavedNameBytes bytes; otherwise
// cut at the start of a character (an escape counting as one) and ended,
// before its extension, by `~` and a short hash of the whole name, so that
// two long names that share their beginning stay two files.
std::string fit_file_name(std::string_view name);

// `search-KEYWORD-N.html` for result page `page` of `keyword` (UTF-8).
std::string search_page_file_name(std::string_view keyword, int page);

// `ACCOUNT-NAME.html` for the member page the site calls `page_name` of
// `account` (UTF-8).
std::string member_page_file_name(std::string_view account, std::string_view page_name);

// Writes pages into one folder, made when missing. Safe to call from several
// threads at once; each file is written under a temporary name and then
// renamed, so a reader never sees half a page. A page that cannot be
// written is left out and the collection goes on; the first such failure of
// the saver is told to `on_failure` (once: a full disk would otherwise say
// the same for every page).
class PageSaver {
public:
    using FailureReport = std::function<void(const std::string& reason)>;

    PageSaver(std::string folder, FailureReport on_failure);

    // Save the final answer of a page (after its retries): an answer that
    // arrived whole, whatever its status, unless it is an error answer
    // without a body. A transfer that failed brings nothing to save.
    void save_search_page(std::string_view keyword, int page, const Bytes& body,
                          const FetchInfo& info);
    void save_member_page(std::string_view account, std::string_view page_name, const Bytes& body,
                          const FetchInfo& info);

    // Writes `body` as file `name` of the folder; false with the reason.
    bool write(const std::string& name, std::string_view body, std::string* error);

    const std::string& folder() const { return folder_; }

private:
    void save(const std::string& name, const Bytes& body, const FetchInfo& info);

    const std::string folder_;
    const FailureReport on_failure_;
    std::atomic<bool> failure_told_{false};
    std::atomic<unsigned long> written_{0};  // numbers the temporary files
};

}  // namespace qinglan
