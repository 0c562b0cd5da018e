// The names of kept pages, and how they are written: byte for byte, replaced
// when fetched again, and a failure told once without stopping anything.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/page_saver.h"
#include "services/utf8.h"
#include "tests/temp_folder.h"

namespace qinglan {
namespace {

namespace fs = std::filesystem;

FetchInfo answer(long status) {
    FetchInfo info;
    info.status = status;
    return info;
}

TEST(PageNamesTest, EscapeWhatCouldLeaveTheFolderOrHide) {
    EXPECT_EQ(search_page_file_name("茶叶", 1), "search-茶叶-1.html");
    EXPECT_EQ(search_page_file_name("a/b\\c%d", 12), "search-a%2Fb%5Cc%25d-12.html");
    EXPECT_EQ(search_page_file_name("..", 2), "search-..-2.html");
    // C0, DEL, C1 (each byte of its UTF-8), and bytes that are not UTF-8.
    EXPECT_EQ(member_page_file_name(std::string("x\ty\n\x7f") + "\xc2\x85" + "\xff\xc3", "card"),
              "x%09y%0A%7F%C2%85%FF%C3-card.html");
    EXPECT_EQ(member_page_file_name("shop-1", "contact"), "shop-1-contact.html");
    EXPECT_EQ(member_page_file_name("a b", "名片"), "a b-名片.html");
    // A percent sign written as it is could read as an escape.
    EXPECT_NE(member_page_file_name("%2F", "card"), member_page_file_name("/", "card"));
}

TEST(PageNamesTest, LongNamesAreCutOnACharacterAndEndInAHash) {
    const std::string exact(200 - std::string("-card.html").size(), 'a');
    EXPECT_EQ(member_page_file_name(exact, "card"), exact + "-card.html");

    const std::string longer = exact + "a";
    const std::string cut = member_page_file_name(longer, "card");
    EXPECT_LE(cut.size(), kMaxSavedNameBytes);
    EXPECT_TRUE(cut.ends_with(".html")) << cut;
    EXPECT_TRUE(cut.starts_with(std::string(150, 'a'))) << cut;
    // The hash is of the whole name: names that differ only past the cut
    // stay apart, and one name always gives the same file.
    EXPECT_NE(member_page_file_name(longer + "b", "card"), member_page_file_name(longer, "card"));
    EXPECT_NE(member_page_file_name(longer, "contact"), member_page_file_name(longer, "card"));
    EXPECT_EQ(member_page_file_name(longer, "card"), cut);

    // Three-byte characters and three-byte escapes are never split.
    for (const std::string& unit : {std::string("茶"), std::string("/"), std::string("\t")}) {
        for (int count = 60; count < 75; ++count) {
            std::string keyword;
            for (int i = 0; i < count; ++i) {
                keyword += unit;
            }
            const std::string name = search_page_file_name(keyword, 1);
            EXPECT_LE(name.size(), kMaxSavedNameBytes);
            EXPECT_EQ(ill_formed_utf8_at(name), std::string_view::npos) << name;
            const std::string stem = name.substr(0, name.rfind('~'));
            if (stem.size() < name.size()) {
                EXPECT_EQ((stem.size() - std::string("search-").size()) % 3, 0u) << name;
            }
        }
    }
}

TEST(PageSaverTest, KeepsTheBytesAndReplacesAPageFetchedAgain) {
    TempFolder folder("page_saver_bytes");
    const fs::path pages = folder.path() / "new" / "pages";
    std::vector<std::string> failures;
    PageSaver saver(pages.string(), [&](const std::string& why) { failures.push_back(why); });

    const std::string gbk_page = std::string("<title>\xb2\xe8\xd2\xb6</title>") + '\0' + "tail";
    saver.save_search_page("茶叶", 1, gbk_page, answer(200));
    EXPECT_EQ(file_contents(pages / "search-茶叶-1.html"), gbk_page);
    saver.save_search_page("茶叶", 1, "again", answer(200));
    EXPECT_EQ(file_contents(pages / "search-茶叶-1.html"), "again");

    // Error answers with a body and empty answers are pages; failed
    // transfers and error answers without a body are not.
    saver.save_member_page("m1", "card", "<p>gone</p>", answer(404));
    saver.save_member_page("m2", "card", "", answer(200));
    saver.save_member_page("m3", "card", "", answer(503));
    FetchInfo cut_off = answer(200);
    cut_off.error = FetchError::kCutOff;
    saver.save_member_page("m4", "card", "<p>half", cut_off);
    EXPECT_EQ(file_contents(pages / "m1-card.html"), "<p>gone</p>");
    EXPECT_TRUE(fs::exists(pages / "m2-card.html"));
    EXPECT_FALSE(fs::exists(pages / "m3-card.html"));
    EXPECT_FALSE(fs::exists(pages / "m4-card.html"));

    // Nothing but the pages is left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(pages)) {
        ++files;
    }
    EXPECT_EQ(files, 3);
    EXPECT_TRUE(failures.empty());
}

TEST(PageSaverTest, AFolderThatCannotBeWrittenIsToldOnce) {
    TempFolder folder("page_saver_failure");
    const fs::path taken = folder.path() / "taken";
    std::ofstream(taken) << "a file, not a folder";
    std::vector<std::string> failures;
    PageSaver saver(taken.string(), [&](const std::string& why) { failures.push_back(why); });
    saver.save_search_page("x", 1, "page", answer(200));
    saver.save_member_page("m", "card", "page", answer(200));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find(taken.string()), std::string::npos) << failures[0];
    EXPECT_EQ(file_contents(taken), "a file, not a folder");
}

}  // namespace
}  // namespace qinglan
