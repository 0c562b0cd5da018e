// Keywords read from a file by the commands that take keywords: after those
// of the command line, in file order, each checked before anything is
// opened or asked for, a refusal naming the file's line.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/app/child_process.h"
#include "tests/app/collect_fixture.h"
#include "tests/marketplace_pages.h"

namespace qinglan {
namespace {

class KeywordsFileCommandTest : public CollectFixture {
protected:
    // Writes `text` to a file of the data folder; its path.
    std::string keywords_file(const std::string& name, const std::string& text) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
};

TEST_F(KeywordsFileCommandTest, CollectExportAndForgetTakeTheFilesKeywords) {
    // Accounts of their own, so that a merged export keeps every row.
    qinglan::serve_members(market_, "手机", "p", 2);
    qinglan::serve_members(market_, "电脑 配件", "c", 1);
    qinglan::serve_members(market_, "茶", "t", 3);
    const std::string list =
        keywords_file("list.txt", "\xEF\xBB\xBF# 本周\r\n电脑 配件\r\n\r\n  # 停用\r\n茶\r\n");
    Child collect(command("collect", {"手机", "--keywords-file", list}));
    ASSERT_EQ(collect.wait(), 0) << collect.errors();
    EXPECT_EQ(collect.output(),
              "手机: collected 2 of 2 members, 2 rows stored\n"
              "电脑 配件: collected 1 of 1 members, 1 rows stored\n"
              "茶: collected 3 of 3 members, 3 rows stored\n");
    EXPECT_EQ(count_rows("电脑 配件"), 1);

    // An export's last argument stays its file, the file's keywords before it.
    const std::string out = (dir_ / "out.csv").string();
    Child exported(command("export", {"--merge", "手机", out, "--keywords-file", list}));
    ASSERT_EQ(exported.wait(), 0) << exported.errors();
    EXPECT_EQ(exported.output(),
              "3 keywords merged: 6 rows written to " + out + ", 0 duplicate accounts left out\n");
    // With no argument there is no file to write to.
    Child no_file(command("export", {"--keywords-file", list}));
    EXPECT_EQ(no_file.wait(), 2);
    EXPECT_NE(no_file.errors().find("export needs the name of the file"), std::string::npos)
        << no_file.errors();

    Child forget(command("forget", {"--keywords-file", list}));
    ASSERT_EQ(forget.wait(), 0) << forget.errors();
    EXPECT_EQ(forget.output(), "电脑 配件: deleted\n茶: deleted\n");
    Child tables(command("tables", {}));
    ASSERT_EQ(tables.wait(), 0) << tables.errors();
    EXPECT_EQ(tables.output(), "123\t0\t-\tcomplete\t内置\n手机\t2\t2\tcomplete\t内置\n");
}

TEST_F(KeywordsFileCommandTest, ABadFileStopsTheCommandBeforeAnyRequest) {
    serve_members("手机", 1);
    struct Case {
        std::string text;
        std::string said;  // after the file's name
    };
    const std::vector<Case> cases = {
        // The site cannot search for an emoji: its line is named.
        {"手机\r\n# 注释\r\n茶\xF0\x9F\x98\x80\r\n",
         ":3: U+1F600 is not a GBK character: the keyword cannot be searched"},
        {"手机\n\xCA\xD6\xBB\xFA\n", ":2: the line is not UTF-8 text (byte 1)"},
        {std::string("手机\n\0\n", 9), ":2: the line holds a NUL byte (byte 1)"},
        {"# nothing yet\n\n", ": the file holds no keyword"},
    };
    for (const Case& bad : cases) {
        const std::string list = keywords_file("bad.txt", bad.text);
        Child refused(command("collect", {"手机", "--keywords-file", list}));
        EXPECT_EQ(refused.wait(), 2) << bad.said;
        EXPECT_NE(refused.errors().find("qinglan: " + list + bad.said), std::string::npos)
            << refused.errors();
        EXPECT_TRUE(refused.output().empty());
    }
    const std::string missing = (dir_ / "missing.txt").string();
    Child unread(command("forget", {"--keywords-file", missing}));
    EXPECT_EQ(unread.wait(), 2);
    EXPECT_NE(unread.errors().find(missing + ": cannot be read: No such file or directory"),
              std::string::npos)
        << unread.errors();
    // The queue's listing takes no keywords either: the file's first one is
    // not taken for a verb.
    Child listing(command("queue", {"--keywords-file", keywords_file("add.txt", "add\n手机\n")}));
    EXPECT_EQ(listing.wait(), 2);
    EXPECT_NE(listing.errors().find("--keywords-file goes with queue add"), std::string::npos)
        << listing.errors();
    // The windows take no keywords from the command line.
    Child windows({QINGLAN_PROGRAM, "--data-dir", dir_.string(), "--keywords-file",
                   keywords_file("ok.txt", "手机\n")});
    EXPECT_EQ(windows.wait(), 2);
    EXPECT_NE(windows.errors().find("--keywords-file goes with a command"), std::string::npos)
        << windows.errors();
    EXPECT_TRUE(market_.requests().empty());
    // Nothing was even opened: no database was made.
    EXPECT_FALSE(std::filesystem::exists(dir_ / "date"));
}

}  // namespace
}  // namespace qinglan
