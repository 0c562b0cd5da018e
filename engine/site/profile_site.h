#pragma once

// A marketplace described by a site profile (engine/site/site_profile.h):
// its addresses are the profile's templates, its accounts and fields what the
// profile's patterns cut out of the pages.
//
// The profile's patterns read UTF-8 text, while the engine's texts are GBK.
// Pages therefore cross into the engine as GB18030 (GBK for every character
// GBK has, four bytes for the others), which the rules read back as UTF-8
// and which the record's way out decodes the same way: a value with a
// character GBK lacks reaches the database exactly as the page had it.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/site/site.h"
#include "engine/site/site_profile.h"

namespace qinglan {

class ProfileSite : public Site {
public:
    explicit ProfileSite(SiteProfile profile);

    std::string name() const override { return profile_.name; }
    int pages() const override { return profile_.pages; }
    bool search_address(const MarketHosts& hosts, const std::string& keyword, int page,
                        Text* address, std::string* refusal) const override;
    Text page_text(std::string_view body, std::string_view content_type) const override;
    TextList accounts(std::string_view result_page) const override;
    bool requestable(std::string_view account) const override;
    const std::vector<MemberPage>& member_pages() const override { return member_pages_; }
    Text member_page_address(const MarketHosts& hosts, std::size_t page,
                             std::string_view account) const override;
    ContactRecord record(std::string_view account, const TextList& pages,
                         const CellSink& on_cell) const override;
    bool blocked(std::string_view page, bool search_page, std::string_view keyword) const override;
    bool may_block(bool search_page) const override {
        return search_page || profile_.blocked.has_value();
    }

    const SiteProfile& profile() const { return profile_; }

    // The text (UTF-8) of record field `field` cut from `page`, a text of
    // the field's own member page as page_text gives it, cleaned as the
    // record's field is; nothing when the field has no rule or its pattern
    // matches nothing there (the record then holds an empty field), so that
    // a profile being written can tell a miss from an empty value.
    std::optional<std::string> field_text(int field, std::string_view page) const;

private:
    // Text of the profile's charset (an address's bytes) from engine text.
    std::string to_charset(std::string_view gbk_text) const;

    const SiteProfile profile_;
    const std::vector<MemberPage> member_pages_;
};

// The site of the profile file at `path`, or nothing with `*error` saying why
// (naming the file): a file that is missing, unreadable or over 1 MiB, or a
// profile that does not load.
std::shared_ptr<const Site> load_site(const std::string& path, std::string* error);

// The same, as the profile's own site, for tools that look into its rules.
std::shared_ptr<const ProfileSite> load_profile_site(const std::string& path, std::string* error);

// The profile file's text as it is on disk, refused as load_site refuses it.
bool read_profile_text(const std::string& path, std::string* text, std::string* error);

// The site of a profile's text kept elsewhere (a queued keyword carries the
// text of its profile), `file_name` naming it in the reason of a refusal.
std::shared_ptr<const ProfileSite> profile_site_from_text(std::string_view text,
                                                          const std::string& file_name,
                                                          std::string* error);

}  // namespace qinglan
