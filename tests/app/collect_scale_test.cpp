// Many keywords at once: none is lost to a lack of descriptors or threads.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "tests/app/child_process.h"
#include "tests/app/collect_fixture.h"

namespace qinglan {
namespace {

using CollectScaleTest = CollectFixture;

TEST_F(CollectScaleTest, AThousandKeywordsCollectUnderAFewDescriptors) {
    constexpr int kKeywords = 1000;
    std::vector<std::string> keywords;
    for (int k = 0; k < kKeywords; ++k) {
        keywords.push_back("词" + std::to_string(k));
        qinglan::serve_members(market_, keywords.back(), "k" + std::to_string(k) + "m", 2);
    }
    // A quarter of the usual limit: transfers, not keywords, take descriptors.
    Child child(command("collect", keywords), [] {
        const rlimit limit{256, 256};
        setrlimit(RLIMIT_NOFILE, &limit);
    });
    ASSERT_EQ(child.wait(), 0) << child.errors().substr(0, 2000);

    int summaries = 0;
    for (std::size_t at = 0;
         (at = child.output().find(", 2 rows stored\n", at)) != std::string::npos; ++at) {
        ++summaries;
    }
    EXPECT_EQ(summaries, kKeywords) << child.output().substr(0, 2000);
    for (int k = 0; k < kKeywords; k += 97) {
        EXPECT_EQ(count_rows(keywords[static_cast<std::size_t>(k)]), 2) << k;
    }
}

}  // namespace
}  // namespace qinglan
