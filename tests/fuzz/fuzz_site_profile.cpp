// The site profile loader: the whole input is a profile file. A profile it
// loads must hold everything a collection counts on, so that nothing later
// has to refuse it; a refusal must name the file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/site/field_text.h"
#include "engine/site/site_profile.h"
#include "fuzz_support.h"

namespace {

using qinglan::fuzz::check;
using qinglan::fuzz::contains;

constexpr std::string_view kFile = "fuzz.ini";

void check_loaded(const qinglan::SiteProfile& profile) {
    check(!profile.name.empty() && profile.name != "内置");
    check(profile.pages >= 1 && profile.pages <= qinglan::kMaxProfilePages);
    check(contains(profile.search_url, "{keyword}"));
    check(!contains(profile.search_url, "{account}"));
    check(profile.account.compiled.valid() && profile.account.compiled.regex().mark_count() >= 1);
    check(!profile.blocked || profile.blocked->compiled.valid());
    check(!profile.member_pages.empty());
    for (const qinglan::ProfilePage& page : profile.member_pages) {
        check(contains(page.address, "{account}"));
        check(!contains(page.address, "{keyword}") && !contains(page.address, "{page}"));
    }
    for (const auto& field : profile.fields) {
        check(!field || (field->page < profile.member_pages.size() &&
                         field->pattern.compiled.regex().mark_count() >= 1));
    }
    // Every brace of a loaded address belongs to a placeholder it fills.
    qinglan::TemplateValues values;
    const std::string url = qinglan::fill_template(profile.search_url, values);
    check(url.find_first_of("{}") == std::string::npos);
    for (const qinglan::ProfilePage& page : profile.member_pages) {
        check(qinglan::fill_template(page.address, values).find_first_of("{}") ==
              std::string::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<qinglan::SiteProfile> profile =
        qinglan::load_site_profile(text, kFile, &error);
    if (profile) {
        check(error.empty());
        check_loaded(*profile);
    } else {
        check(error.rfind(std::string(kFile) + ":", 0) == 0);
    }
    return 0;
}
