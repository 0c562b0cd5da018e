#pragma once

// What the steps of a collection task make of a page's answer: the reasons
// of a failure as the command line and the windows tell them, and whether an
// answer is a block page.

#include <functional>
#include <memory>
#include <string>

#include "engine/site/site.h"
#include "services/fetch.h"
#include "services/text.h"

namespace qinglan {

inline constexpr int kStatePart = 0;     // the observer's status part of the search state
inline constexpr int kProgressPart = 1;  // and of the member progress

// The reason of a failed fetch as the windows show it: Chinese, with the
// technical detail in brackets.
std::string chinese_reason(const FetchInfo& info);

// Why a page that is still a block page after every try is no answer.
std::string blocked_reason(const Text& page);

// Asks, on the transfer loop's thread as each answer comes, whether it is a
// block page, so that the loop tries it again like a 429 answer with no
// thread waiting. Its verdict on the last answer is the step's
// (FetchInfo::blocked): a page is read for it once. Empty when no page of
// the kind can be one.
std::function<bool(const Bytes&, const FetchInfo&)> block_judge(std::shared_ptr<const Site> site,
                                                                std::string keyword,
                                                                bool search_page);

}  // namespace qinglan
