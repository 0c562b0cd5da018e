// The command line when things go wrong: a marketplace that is down, a
// reader that goes away, a keyword another collector holds, a database held
// locked, keywords that are not text.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "engine/request.h"
#include "services/charset.h"
#include "storage/sqlite_store.h"
#include "tests/app/child_process.h"
#include "tests/app/collect_fixture.h"

namespace qinglan {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class CollectFailureTest : public CollectFixture {
protected:
    std::vector<std::string> fast(std::vector<std::string> rest) {
        rest.insert(rest.begin(), {"--retries", "1"});
        return rest;
    }
};

// In the child, before the program starts: `fd` becomes a pipe nobody reads.
void point_at_closed_pipe(int fd) {
    int ends[2];
    if (pipe(ends) == 0) {
        close(ends[0]);
        dup2(ends[1], fd);
        close(ends[1]);
    }
}

TEST_F(CollectFailureTest, NoNetworkFailsHonestlyAndTheNextRunCollects) {
    serve_members("手机", 3);
    const std::uint16_t port = market_.port();
    market_.stop();
    Child down(command("collect", fast({"手机"})));
    EXPECT_EQ(down.wait(), 1) << down.errors();
    EXPECT_EQ(down.output().rfind("手机: failed: search page: cannot connect", 0), 0U)
        << down.output();
    EXPECT_NE(down.errors().find("[手机] 失败：搜索页无法连接服务器"), std::string::npos)
        << down.errors();

    Child tables(command("tables", {}));
    ASSERT_EQ(tables.wait(), 0);
    EXPECT_NE(tables.output().find("手机\t0\t-\tincomplete\t内置\n"), std::string::npos)
        << tables.output();

    ASSERT_TRUE(market_.start(port));
    Child up(command("collect", fast({"手机"})));
    EXPECT_EQ(up.wait(), 0) << up.errors();
    EXPECT_EQ(up.output(), "手机: collected 3 of 3 members, 3 rows stored\n");
    EXPECT_EQ(count_rows("手机"), 3);
}

TEST_F(CollectFailureTest, AFailedMemberMakesTheStatusOneAndIsCollectedNextTime) {
    serve_members("缺", 3);
    market_.set_behaviour("card/m1", {.fail_times = 1000});
    Child first(command("collect", fast({"缺"})));
    EXPECT_EQ(first.wait(), 1);
    EXPECT_EQ(first.output(),
              "缺: collected 2 of 3 members, 2 rows stored, 1 members failed: card of m1: "
              "server answered 503\n");
    EXPECT_NE(first.errors().find("[缺] 失败数量 1: card of m1: server answered 503"),
              std::string::npos)
        << first.errors();

    market_.clear_behaviours();
    Child second(command("collect", fast({"缺"})));
    EXPECT_EQ(second.wait(), 0) << second.errors();
    EXPECT_EQ(second.output(),
              "缺: collected 3 of 3 members, 3 rows stored (2 by an earlier run)\n");
    EXPECT_EQ(count_rows("缺"), 3);
}

TEST_F(CollectFailureTest, WhatPagesHoldNeverReachesTheTerminalRaw) {
    // An account with an escape sequence in it, whose card fails.
    market_.set_resource("search/" + encode_keyword(utf8_to_gbk("坏")),
                         "<p> companyId=\"x\x1b[2J\a\"");
    Child child(command("collect", fast({"坏"})));
    EXPECT_EQ(child.wait(), 1);
    for (const std::string& stream : {child.output(), child.errors()}) {
        EXPECT_EQ(stream.find('\x1b'), std::string::npos) << stream;
        EXPECT_EQ(stream.find('\a'), std::string::npos) << stream;
    }
    EXPECT_NE(child.output().find("card of x\\x1b[2J\\x07"), std::string::npos) << child.output();
}

TEST_F(CollectFailureTest, AClosedOutputNeverStopsTheCollection) {
    serve_members("崩溃", 60);
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        Child child(command("collect", {fd == STDOUT_FILENO ? "崩溃" : "崩溃2"}),
                    [fd] { point_at_closed_pipe(fd); });
        if (fd == STDERR_FILENO) {
            serve_members("崩溃2", 60);
        }
        EXPECT_EQ(child.wait(), 3) << fd;
        EXPECT_EQ(child.end_signal(), 0) << fd;
    }
    EXPECT_EQ(count_rows("崩溃"), 60);
    EXPECT_EQ(count_rows("崩溃2"), 60);
}

TEST_F(CollectFailureTest, AKeywordHeldByAnotherCollectorIsRefusedUnfetched) {
    serve_members("占", 2);
    serve_members("存", 1);
    ASSERT_EQ(Child(command("collect", {"存"})).wait(), 0);
    std::string error;
    auto other = SqliteStore::open(dir_.string(), &error);
    ASSERT_TRUE(other) << error;
    ASSERT_TRUE(other->claim("占", &error)) << error;
    ASSERT_TRUE(other->claim("存", &error)) << error;
    market_.clear_requests();

    Child refused(command("collect", {"占"}));
    EXPECT_EQ(refused.wait(), 1);
    EXPECT_EQ(refused.output(), "占: not collected: it is being collected by another collector\n");
    Child again(command("collect", {"--again", "存"}));
    EXPECT_EQ(again.wait(), 1);
    EXPECT_TRUE(market_.requests().empty());
    Child forget(command("forget", {"存"}));
    EXPECT_EQ(forget.wait(), 1);
    EXPECT_NE(forget.errors().find("being collected"), std::string::npos) << forget.errors();
    EXPECT_EQ(count_rows("存"), 1);

    other->release("占");
    Child collected(command("collect", {"占"}));
    EXPECT_EQ(collected.wait(), 0) << collected.errors();
}

TEST_F(CollectFailureTest, CtrlCEndsPromptlyWhileTheDatabaseIsHeld) {
    serve_members("锁", 5);
    ASSERT_EQ(Child(command("tables", {})).wait(), 0);  // makes the database
    sqlite3* holder = nullptr;
    const std::string path = (dir_ / "date" / "lingshishuj.db").string();
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    Child child(command("collect", {"锁"}));
    std::this_thread::sleep_for(500ms);  // the new table waits for the lock
    const auto start = Clock::now();
    child.send_signal(SIGINT);
    EXPECT_EQ(child.wait(), 1);
    EXPECT_LT(Clock::now() - start, 2s);
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);

    // A lock that clears within the wait holds nothing up.
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    Child patient(command("collect", {"锁"}));
    std::this_thread::sleep_for(500ms);
    sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    EXPECT_EQ(patient.wait(), 0) << patient.errors();
    sqlite3_close(holder);
    EXPECT_EQ(count_rows("锁"), 5);
}

TEST_F(CollectFailureTest, KeywordsMustBeUtf8) {
    for (const std::string& keyword : {std::string("\xC1\xD6"), std::string("ok\xFF")}) {
        Child child(command("collect", {"fine", keyword}));
        EXPECT_EQ(child.wait(), 2);
        EXPECT_NE(child.errors().find("keyword 2 is not UTF-8"), std::string::npos)
            << child.errors();
    }
    EXPECT_TRUE(market_.requests().empty());
}

TEST_F(CollectFailureTest, ForgetDeletesAllOrNothing) {
    serve_members("甲", 2);
    serve_members("乙", 1);
    ASSERT_EQ(Child(command("collect", {"甲", "乙"})).wait(), 0);

    Child partly(command("forget", {"甲", "丙"}));
    EXPECT_EQ(partly.wait(), 1);
    EXPECT_NE(partly.errors().find("'丙' is not a stored keyword"), std::string::npos);
    EXPECT_EQ(count_rows("甲"), 2);

    Child forget(command("forget", {"甲"}));
    EXPECT_EQ(forget.wait(), 0) << forget.errors();
    EXPECT_EQ(forget.output(), "甲: deleted\n");
    Child tables(command("tables", {}));
    ASSERT_EQ(tables.wait(), 0);
    EXPECT_EQ(tables.output(), "123\t0\t-\tcomplete\t内置\n乙\t1\t1\tcomplete\t内置\n");

    // Forgotten means new: the next collection starts from its search page.
    market_.clear_requests();
    Child again(command("collect", {"甲"}));
    EXPECT_EQ(again.wait(), 0);
    EXPECT_EQ(again.output(), "甲: collected 2 of 2 members, 2 rows stored\n");
}

TEST_F(CollectFailureTest, AgainStartsOver) {
    serve_members("再", 2);
    ASSERT_EQ(Child(command("collect", {"再"})).wait(), 0);
    serve_members("再", 3);
    Child again(command("collect", {"--again", "再"}));
    EXPECT_EQ(again.wait(), 0) << again.errors();
    EXPECT_EQ(again.output(), "再: collected 3 of 3 members, 3 rows stored\n");
    EXPECT_EQ(count_rows("再"), 3);
}

// A page in place of the results that lists no account, or one that asks
// for a verification: starting over against it keeps the stored rows and
// their state, and says why.
TEST_F(CollectFailureTest, AgainAgainstAPageWithoutAccountsKeepsEverything) {
    serve_members("留", 3);
    ASSERT_EQ(Child(command("collect", {"留"})).wait(), 0);
    Child before(command("tables", {}));
    ASSERT_EQ(before.wait(), 0) << before.errors();
    ASSERT_NE(before.output().find("留\t3\t3\tcomplete\t内置\n"), std::string::npos)
        << before.output();

    const std::string search = "search/" + encode_keyword(utf8_to_gbk("留"));
    market_.set_resource(
        search,
        utf8_to_gbk("<html><head><title>系统繁忙</title></head><body>请稍后</body></html>"));
    Child again(command("collect", {"--again", "留"}));
    EXPECT_EQ(again.wait(), 1) << again.errors();
    EXPECT_EQ(again.output(),
              "留: failed: the search page lists no member account (title \"系统繁忙\", 0 KB); "
              "the stored rows are kept\n");
    market_.set_resource(
        search,
        utf8_to_gbk("<html><head><title>安全验证</title></head><body>请拖动滑块</body></html>"));
    Child blocked(command("collect", {"--again", "--retries", "1", "留"}));
    EXPECT_EQ(blocked.wait(), 1) << blocked.errors();
    EXPECT_EQ(blocked.output(), "留: failed: search page: blocked by the site (\"安全验证\")\n");
    EXPECT_EQ(count_rows("留"), 3);
    Child after(command("tables", {}));
    ASSERT_EQ(after.wait(), 0) << after.errors();
    EXPECT_EQ(after.output(), before.output());
    // Still complete: submitted without --again it is only shown.
    Child shown(command("collect", {"留"}));
    EXPECT_EQ(shown.wait(), 0) << shown.errors();
    EXPECT_EQ(shown.output(), "留: already stored with 3 rows, not collected again\n");
}

}  // namespace
}  // namespace qinglan
