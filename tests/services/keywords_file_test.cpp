// Keyword files: what is a keyword, what is skipped, and a bad line refused
// whole with its number.

#include "services/keywords_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/temp_folder.h"

namespace qinglan {
namespace {

using Lines = std::vector<std::pair<std::string, std::size_t>>;

Lines keywords_of(std::string_view text) {
    std::vector<FileKeyword> keywords;
    std::string error;
    EXPECT_TRUE(parse_keywords_file(text, "list.txt", &keywords, &error)) << error;
    Lines lines;
    for (const FileKeyword& keyword : keywords) {
        lines.emplace_back(keyword.keyword, keyword.line);
    }
    return lines;
}

std::string refusal_of(std::string_view text) {
    std::vector<FileKeyword> keywords = {{"left over", 1}};
    std::string error;
    EXPECT_FALSE(parse_keywords_file(text, "list.txt", &keywords, &error));
    EXPECT_TRUE(keywords.empty());
    return error;
}

TEST(KeywordsFile, KeywordsAreTheLinesAsWritten) {
    // A byte-order mark, CR LF and LF mixed, a last line without its end.
    EXPECT_EQ(keywords_of("\xEF\xBB\xBF手机\r\n电脑\n 茶 叶 \t\r\nlast"),
              (Lines{{"手机", 1}, {"电脑", 2}, {" 茶 叶 \t", 3}, {"last", 4}}));
    // Only LF and CR LF end a line: a lone CR, or a CR before CR LF, is the
    // keyword's. A mark not at the start is a character like any other.
    EXPECT_EQ(keywords_of("a\rb\nc\r\r\n\xEF\xBB\xBF"
                          "d\n"),
              (Lines{{"a\rb", 1},
                     {"c\r", 2},
                     {"\xEF\xBB\xBF"
                      "d",
                      3}}));
}

TEST(KeywordsFile, BlankLinesAndCommentsAreSkippedAndCounted) {
    const std::string ideographic_space = "\xE3\x80\x80";
    EXPECT_EQ(keywords_of("# a list\n\n   \n\t\r\n" + ideographic_space + "\n  # indented\n" +
                          ideographic_space + "#全角空格后\nx # not a comment\n" +
                          ideographic_space + "茶\n#\n＃全角\n"),
              (Lines{{"x # not a comment", 8}, {ideographic_space + "茶", 9}, {"＃全角", 11}}));
    // The mark before a comment leaves it a comment.
    EXPECT_EQ(keywords_of("\xEF\xBB\xBF# heading\r\nk\r\n"), (Lines{{"k", 2}}));
}

TEST(KeywordsFile, ABadLineRefusesTheFileWithItsNumber) {
    EXPECT_EQ(refusal_of("ok\n\xD6\xD0\xCE\xC4\nok\n"),
              "list.txt:2: the line is not UTF-8 text (byte 1)");
    EXPECT_EQ(refusal_of("ok\r\nok\r\n手\xE6\x9C\n"),
              "list.txt:3: the line is not UTF-8 text (byte 4)");
    // A comment in another encoding is as bad: the whole file is.
    EXPECT_EQ(refusal_of("# \xB9\xD8\xBC\xFC\xD7\xD6\nok\n"),
              "list.txt:1: the line is not UTF-8 text (byte 3)");
    // Surrogates and overlong forms are not UTF-8 either.
    EXPECT_EQ(refusal_of("\xED\xA0\x80\n"), "list.txt:1: the line is not UTF-8 text (byte 1)");
    EXPECT_EQ(refusal_of("ab\xC0\xAF\n"), "list.txt:1: the line is not UTF-8 text (byte 3)");
    // No keyword can hold a NUL; the first fault of the line is named.
    EXPECT_EQ(refusal_of(std::string("ok\nab\0c\xFF\n", 9)),
              "list.txt:2: the line holds a NUL byte (byte 3)");
    EXPECT_EQ(refusal_of(std::string("ok\n\xFF\0\n", 6)),
              "list.txt:2: the line is not UTF-8 text (byte 1)");
    // A mark that is cut short is no mark.
    EXPECT_EQ(refusal_of("\xEF\xBB"
                         "x\n"),
              "list.txt:1: the line is not UTF-8 text (byte 1)");
}

TEST(KeywordsFile, AFileWithoutKeywordsIsRefused) {
    const std::string none =
        "list.txt: the file holds no keyword (only empty lines, blanks and comments)";
    for (const std::string_view text :
         {std::string_view(""), std::string_view("\xEF\xBB\xBF"), std::string_view("\n\r\n"),
          std::string_view("# only\n \t\n")}) {
        EXPECT_EQ(refusal_of(text), none) << text;
    }
}

TEST(KeywordsFile, AFileThatCannotBeReadIsNamedWithTheReason) {
    TempFolder folder("keywords_file_read");
    std::vector<FileKeyword> keywords;
    std::string error;
    const std::string list = folder.str() + "/list.txt";
    std::ofstream(list, std::ios::binary) << "\xEF\xBB\xBF手机\r\n# 注释\r\n电脑\r\n";
    ASSERT_TRUE(read_keywords_file(list, &keywords, &error)) << error;
    ASSERT_EQ(keywords.size(), 2u);
    EXPECT_EQ(keywords[1].keyword, "电脑");
    EXPECT_EQ(keywords[1].line, 3u);

    const std::string missing = folder.str() + "/missing.txt";
    EXPECT_FALSE(read_keywords_file(missing, &keywords, &error));
    EXPECT_EQ(error, missing + ": cannot be read: No such file or directory");
    EXPECT_FALSE(read_keywords_file(folder.str(), &keywords, &error));
    EXPECT_EQ(error, folder.str() + ": cannot be read: it is a folder, not a file");
    // A pipe without a writer would hold the program up for ever.
    const std::string pipe = folder.str() + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(read_keywords_file(pipe, &keywords, &error));
    EXPECT_EQ(error, pipe + ": cannot be read: it is a pipe, not a file");
    EXPECT_TRUE(keywords.empty());
}

}  // namespace
}  // namespace qinglan
