// The commands with a site profile: a keyword remembers the site it was
// collected from, is refused under another one, and a profile that does not
// load stops every command before anything is asked for.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/app/child_process.h"
#include "tests/app/collect_fixture.h"

namespace qinglan {
namespace {

const std::string kShopProfile = std::string(QINGLAN_TEST_SOURCE) + "/../sites/sample_shop.ini";

class SiteCommandTest : public CollectFixture {
protected:
    void SetUp() override {
        CollectFixture::SetUp();
        market_.serve_folder(std::string(QINGLAN_TEST_DATA) + "/marketplace");
    }

    std::vector<std::string> with_site(std::vector<std::string> args,
                                       const std::string& profile = kShopProfile) {
        args.insert(args.end(), {"--site", profile});
        return args;
    }

    std::string tables_in(const std::filesystem::path& dir) {
        Child tables(command_in(dir, "tables", {}));
        EXPECT_EQ(tables.wait(), 0) << tables.errors();
        return tables.output();
    }
};

TEST_F(SiteCommandTest, AKeywordIsOnlyCollectedFromTheSiteItWasStartedWith) {
    Child shop(with_site(command("collect", {"茶叶"})));
    ASSERT_EQ(shop.wait(), 0) << shop.errors();
    serve_members("手机", 2);
    Child built_in(command("collect", {"手机"}));
    ASSERT_EQ(built_in.wait(), 0) << built_in.errors();
    const std::string tables = tables_in(dir_);
    EXPECT_NE(tables.find("\tcomplete\t示例市场\n"), std::string::npos) << tables;
    EXPECT_NE(tables.find("手机\t2\t2\tcomplete\t内置\n"), std::string::npos) << tables;

    // Under the other site, each is refused with both names and asked for
    // nothing, even with --again.
    market_.clear_requests();
    Child other(command("collect", {"茶叶", "--again"}));
    EXPECT_EQ(other.wait(), 1);
    EXPECT_EQ(other.output(),
              "茶叶: not collected: it was collected from the site \"示例市场\", not from "
              "\"内置\": forget it, or use another data folder or database\n");
    Child back(with_site(command("collect", {"手机"})));
    EXPECT_EQ(back.wait(), 1);
    EXPECT_NE(back.output().find("from the site \"内置\", not from \"示例市场\""),
              std::string::npos)
        << back.output();
    EXPECT_TRUE(market_.requests().empty());

    // Exported and copied whatever the site; the copy keeps the name.
    const std::string csv = (dir_ / "tea.csv").string();
    Child exported(command("export", {"茶叶", csv}));
    EXPECT_EQ(exported.wait(), 0) << exported.errors();
    const std::filesystem::path copy_dir = dir_ / "copy";
    Child copied(with_site(command("copy", {"--from", dir_.string(), "--to", copy_dir.string()})));
    ASSERT_EQ(copied.wait(), 0) << copied.errors();
    EXPECT_NE(tables_in(copy_dir).find("\tcomplete\t示例市场\n"), std::string::npos);
}

TEST_F(SiteCommandTest, AProfileThatDoesNotLoadStopsEveryCommand) {
    const std::string bad = (dir_ / "bad.ini").string();
    std::ofstream(bad) << "[site]\nname = x\ncolour = blue\n";
    for (const std::string name : {"collect", "tables"}) {
        std::vector<std::string> rest;
        if (name == "collect") {
            rest.push_back("茶叶");
        }
        Child child(with_site(command(name, rest), bad));
        EXPECT_EQ(child.wait(), 2) << name;
        EXPECT_NE(child.errors().find(bad + ":3: "), std::string::npos) << child.errors();
    }
    // Chosen in qinglan.ini, it stops them too.
    std::ofstream(dir_ / "qinglan.ini") << "[site]\nprofile = " << bad << "\n";
    Child from_file(command("collect", {"茶叶"}));
    EXPECT_EQ(from_file.wait(), 2);
    EXPECT_NE(from_file.errors().find(bad + ":3: "), std::string::npos) << from_file.errors();
    EXPECT_TRUE(market_.requests().empty());
}

// What a keyword may hold is the site's business: a UTF-8 site searches for
// characters GBK lacks, which the built-in site refuses before any request.
TEST_F(SiteCommandTest, TheSiteDecidesWhichKeywordsCanBeSearched) {
    Child built_in(command("collect", {"茶😀"}));
    EXPECT_EQ(built_in.wait(), 2);
    EXPECT_NE(built_in.errors().find("U+1F600 is not a GBK character"), std::string::npos)
        << built_in.errors();
    EXPECT_TRUE(market_.requests().empty());
    Child shop(with_site(command("collect", {"茶😀"})));
    EXPECT_EQ(shop.wait(), 0) << shop.errors();
    ASSERT_FALSE(market_.requests().empty());
    EXPECT_NE(market_.requests().front().target.find("q=%E8%8C%B6%F0%9F%98%80"), std::string::npos)
        << market_.requests().front().target;
}

}  // namespace
}  // namespace qinglan
