#include "app/console_observer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace qinglan {
namespace {

// Terminal columns of a label made of ASCII and CJK text only.
int columns(const std::string& label) {
    int count = 0;
    for (std::size_t i = 0; i < label.size();) {
        const auto lead = static_cast<unsigned char>(label[i]);
        const bool wide = lead >= 0xE0;
        i += lead < 0x80 ? 1 : (lead < 0xE0 ? 2 : (lead < 0xF0 ? 3 : 4));
        count += wide ? 2 : 1;
    }
    return count;
}

TEST(TerminalLabel, FillsExactlyItsColumns) {
    EXPECT_EQ(terminal_label("phone", 8), "phone   ");
    EXPECT_EQ(terminal_label("手机壳", 8), "手机壳  ");
    EXPECT_EQ(terminal_label("", 3), "   ");
    EXPECT_EQ(terminal_label("abcdefgh", 8), "abcdefgh");
    EXPECT_EQ(terminal_label("abcdefghi", 8), "abcde...");
    // A wide character that would straddle the cut is left out whole.
    EXPECT_EQ(terminal_label("手机手机手机", 8), "手机... ");
    for (const std::string& keyword :
         {std::string("手机"), std::string("手机手机手机手机手机手机"), std::string(10000, 'x'),
          std::string(5000, '\xe6') /* broken */}) {
        EXPECT_EQ(columns(terminal_label(keyword, 20)), 20) << keyword.size();
    }
}

TEST(TerminalLabel, NeverPassesControlsOrBrokenBytesToTheTerminal) {
    EXPECT_EQ(terminal_label("a\x1b[2Jb", 8), "a?[2Jb  ");
    EXPECT_EQ(terminal_label("a\tb\r\n", 6), "a?b?? ");
    EXPECT_EQ(terminal_label("\xe6\x89", 4), "??  ");      // a cut-off character
    EXPECT_EQ(terminal_label("\xc0\xaf", 4), "??  ");      // an overlong "/"
    EXPECT_EQ(terminal_label("\xed\xa0\x80", 4), "??? ");  // a surrogate
    EXPECT_EQ(terminal_label("😀a", 4), "😀a ");             // an emoji is two columns
}

// A summary line escapes its keyword once, as `tables` does, whatever
// the line says after it.
TEST(TaskSummary, EscapesTheKeywordOnce) {
    TaskOutcome collected;
    collected.members = 2;
    collected.handled = 2;
    collected.stored = 2;
    collected.completed = true;
    EXPECT_EQ(task_summary("a\r\nb\\", collected, ""),
              "a\\r\\nb\\\\: collected 2 of 2 members, 2 rows stored");
    TaskOutcome failed;
    failed.failure = "search page: cannot connect (x\ty)";
    EXPECT_EQ(task_summary("a\r\nb", failed, ""),
              "a\\r\\nb: failed: search page: cannot connect (x\\ty)");
    TaskOutcome empty;
    empty.completed = true;
    empty.empty_page = "title \"\x1b[2J\", 1 KB";
    EXPECT_EQ(task_summary("a\tb", empty, ""),
              "a\\tb: 0 members: the search page held no member accounts (title "
              "\"\\x1b[2J\", 1 KB)");
}

// The live view draws one line per task under the log lines and moves up
// over exactly those lines before it draws again.
TEST(ConsoleObserver, LiveProgressKeepsOneLinePerTask) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    {
        ConsoleObserver observer(out, true);
        observer.task_row_added(1, std::string(300, 'k'), 4);
        observer.task_row_added(2, "手机", 2);
        observer.member_done(1, 2);
        observer.member_done(2, 2);
        observer.task_finished(2, TaskOutcome{});
    }
    std::string written(4096, '\0');
    std::rewind(out);
    written.resize(std::fread(written.data(), 1, written.size(), out));
    std::fclose(out);
    const std::string up_two = "\x1b[2A\r\x1b[J";
    const std::string last_draw = written.substr(written.rfind(up_two) + up_two.size());
    const std::string first_line = last_draw.substr(0, last_draw.find('\n'));
    EXPECT_EQ(first_line, "  " + std::string(17, 'k') + "... [" + std::string(15, '#') +
                              std::string(15, '.') + "] 2/4");
    EXPECT_NE(
        last_draw.find("  手机" + std::string(16, ' ') + " [" + std::string(30, '#') + "] 2/2"),
        std::string::npos);
}

}  // namespace
}  // namespace qinglan
