#include "app/queue_profile.h"

#include "engine/site/profile_site.h"
#include "storage/postgres_queue.h"

namespace qinglan {

bool queue_profile(const Options& options, std::string* name, std::string* text,
                   std::string* error) {
    *name = options.site->name();
    text->clear();
    // The file the site was loaded from, the shipped one included.
    return options.site_file.empty() || read_profile_text(site_profile_file(options), text, error);
}

bool add_to_queue(const Options& options, const std::vector<std::string>& keywords,
                  WorkQueue& queue, std::vector<bool>* added, std::string* error) {
    std::string profile, text;
    if (!queue_profile(options, &profile, &text, error)) {
        return false;
    }
    // Sized from here on: a failure with `added` empty is the profile's.
    added->assign(keywords.size(), false);
    return queue.add(keywords, options.tries, profile, text, added, error);
}

}  // namespace qinglan
