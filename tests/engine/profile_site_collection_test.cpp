// A collection of the sample shop with the shipped profile's site: the
// engine asks the shop's addresses and stores what the profile cuts out.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/collection_engine.h"
#include "engine/site/profile_site.h"
#include "marketplace_fixture.h"
#include "recording_observer.h"
#include "tests/engine/sample_shop.h"

namespace qinglan {
namespace {

const std::string kProfileFile = std::string(QINGLAN_TEST_SOURCE) + "/../sites/sample_shop.ini";

class ProfileSiteCollectionTest : public MarketplaceFixture {
protected:
    int collect(const std::string& keyword) {
        std::string error;
        std::shared_ptr<const Site> site = load_site(kProfileFile, &error);
        EXPECT_TRUE(site) << error;
        market_.serve_folder(std::string(QINGLAN_TEST_DATA) + "/marketplace");
        CollectionEngine engine(store(), hosts(), observer_, 2, site);
        const SubmitResult result = engine.submit_keyword(keyword);
        EXPECT_EQ(result.kind, SubmitResult::kStarted);
        engine.wait_all();
        return result.task;
    }

    RecordingObserver observer_;
};

// Only the first result page is read; its repeated member is stored again,
// as the page lists it.
TEST_F(ProfileSiteCollectionTest, StoresTheMembersOfTheFirstResultPage) {
    const int task = collect("茶叶");
    const ContactRecord& mingqian = kMingqianRecord;
    const ContactRecord shanquan = {"福建山泉茶叶合作社",
                                    "林秀英",
                                    "shanquan",
                                    "",
                                    "社长",
                                    "女士",
                                    "0593-6123456",
                                    "",
                                    "139 5000 1234",
                                    "福建省福安市社口镇山泉村 1号",
                                    "355000",
                                    ""};
    const ContactRecord yunwu = {"云南\"云雾\"普洱茶厂",
                                 "李明",
                                 "yunwu",
                                 "生产部",
                                 "厂长",
                                 "先生",
                                 "0879-2233445",
                                 "0879-2233446",
                                 "",
                                 "云南省普洱市思茅区茶源路 66 号",
                                 "665000",
                                 "http://yunwu.example.cn/puer/"};
    const std::vector<ContactRecord> expected = {mingqian, shanquan, mingqian, yunwu};
    EXPECT_EQ(stored_rows("茶叶"), expected);
    EXPECT_TRUE(observer_.outcome(task).completed);
    EXPECT_EQ(observer_.outcome(task).failed_members, 0);
    for (const auto& request : market_.requests()) {
        EXPECT_NE(request.resource_key, "shop/search/%E8%8C%B6%E5%8F%B6/2");
    }
}

}  // namespace
}  // namespace qinglan
