// `collect --save-pages`: every page the collection fetches kept as it
// arrived, under names made from the keyword and the accounts.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/request.h"
#include "services/charset.h"
#include "tests/app/child_process.h"
#include "tests/app/collect_fixture.h"

namespace qinglan {
namespace {

namespace fs = std::filesystem;
using SavePagesTest = CollectFixture;

TEST_F(SavePagesTest, KeepsEveryFetchedPageAsItArrived) {
    const std::string keyword = "茶/叶 %";
    serve_members(keyword, 2);
    const std::string search_key = "search/" + encode_keyword(utf8_to_gbk(keyword));
    const std::string search = gbk("<title>茶叶</title><p> companyId=\"m0\" companyId=\"m1\"");
    market_.set_resource(search_key, search);
    const std::string card = gbk("{\"name\":\"公司\",\"memberId\":\"m0\",\"x\":1}");
    market_.set_resource("card/m0", card);
    const std::string contact = gbk("<html><title>联系方式</title>电话：0571-1</html>");
    market_.set_resource("contact/m0", contact);
    // The card of m1 fails once: its file is the answer after the retry.
    market_.set_behaviour("card/m1", {.fail_times = 1});

    const fs::path pages = dir_ / "new" / "pages";
    Child child(command("collect", {"--save-pages", pages.string(), "--", keyword}));
    ASSERT_EQ(child.wait(), 0) << child.errors();
    EXPECT_EQ(file_contents(pages / "search-茶%2F叶 %25-1.html"), search);
    // The marketplace answers a card with the callback the request names.
    const std::string callback = "jQuery16405435396444518119_1324703458289";
    EXPECT_EQ(file_contents(pages / "m0-card.html"), callback + "(" + card + ")");
    EXPECT_EQ(file_contents(pages / "m0-contact.html"), contact);
    EXPECT_EQ(file_contents(pages / "m1-card.html"),
              callback + "(" + gbk("{\"name\":\"公司m1\",\"memberId\":\"m1\",\"x\":1}") + ")");
    // Not served: the marketplace's 404 page, kept like any answer.
    EXPECT_NE(file_contents(pages / "m1-contact.html").find("404"), std::string::npos);
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(pages)) {
        ++files;
    }
    EXPECT_EQ(files, 5);

    // Fetched again: the files are replaced.
    const std::string changed = gbk("<p> companyId=\"m0\"");
    market_.set_resource(search_key, changed);
    Child again(command("collect", {"--again", "--save-pages", pages.string(), "--", keyword}));
    ASSERT_EQ(again.wait(), 0) << again.errors();
    EXPECT_EQ(file_contents(pages / "search-茶%2F叶 %25-1.html"), changed);
}

TEST_F(SavePagesTest, AFolderThatCannotBeWrittenDoesNotStopTheCollection) {
    serve_members("x", 3);
    const fs::path taken = dir_ / "taken";
    std::ofstream(taken) << "a file";
    Child child(command("collect", {"--save-pages", taken.string(), "x"}));
    ASSERT_EQ(child.wait(), 0) << child.errors();
    EXPECT_EQ(child.output(), "x: collected 3 of 3 members, 3 rows stored\n");
    const std::string& errors = child.errors();
    const std::size_t told =
        errors.find("qinglan: a fetched page cannot be saved: " + taken.string());
    ASSERT_NE(told, std::string::npos) << errors;
    EXPECT_EQ(errors.find("cannot be saved", errors.find('\n', told)), std::string::npos) << errors;
    EXPECT_EQ(count_rows("x"), 3);
}

}  // namespace
}  // namespace qinglan
