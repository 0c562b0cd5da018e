#pragma once

// Keywords added to the team's work queue, from the command line or from
// the search window alike: each carries the site profile in use, its name
// and its file's text, so that every worker reads the keyword's pages by the
// profile it was added with.

#include <string>
#include <vector>

#include "app/options.h"

namespace qinglan {

class WorkQueue;

// The profile in use: its name, and its file's text (empty for the built-in
// site). False with the reason when the file cannot be read.
bool queue_profile(const Options& options, std::string* name, std::string* text,
                   std::string* error);

// Adds each keyword with the profile in use and `options.tries` tries;
// `added[k]` says whether keyword k was new to the queue. Nothing is added
// when the profile cannot be read.
bool add_to_queue(const Options& options, const std::vector<std::string>& keywords,
                  WorkQueue& queue, std::vector<bool>* added, std::string* error);

}  // namespace qinglan
