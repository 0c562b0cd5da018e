// The team's work queue on a real PostgreSQL server: its commands, and
// workers (`qinglan work` processes) that drain it, die, stop, and fail.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/child_process.h"
#include "tests/app/server_fixture.h"
#include "tests/pg_server.h"

namespace qinglan {
namespace {

using namespace std::chrono_literals;

class QueueServerTest : public ServerCollectFixture {
protected:
    std::vector<std::string> queue(std::vector<std::string> rest) {
        return on_server("queue", std::move(rest));
    }
    // A worker that ends once the queue is drained. Its lease is long
    // enough for a loaded machine; a test that has one run out gives 2 s.
    std::vector<std::string> worker(std::vector<std::string> rest = {}) {
        rest.insert(rest.begin(), {"--until-empty", "--lease", "20"});
        return on_server("work", std::move(rest));
    }

    int rows_of(const std::string& table) {
        return std::atoi(server_value("SELECT count(*) FROM \"" + table + "\"").c_str());
    }
    void wait_for_rows(const std::string& table, int rows) {
        for (int i = 0; i < 2000 && rows_of(table) < rows; ++i) {
            std::this_thread::sleep_for(5ms);
        }
    }
    // How often each search page was asked for.
    std::map<std::string, int> search_requests() {
        std::map<std::string, int> counts;
        for (const ReceivedRequest& request : market_.requests()) {
            if (request.resource_key.rfind("search/", 0) == 0) {
                ++counts[request.resource_key];
            }
        }
        return counts;
    }
};

TEST_F(QueueServerTest, KeywordsAreAddedListedRetriedAndRemoved) {
    Child local(command("queue", {"add", "甲"}));
    EXPECT_EQ(local.wait(), 2);
    EXPECT_NE(local.errors().find("--database postgresql://"), std::string::npos) << local.errors();
    EXPECT_EQ(Child(command("work", {})).wait(), 2);
    EXPECT_EQ(Child(queue({"retry"})).wait(), 2);
    EXPECT_EQ(Child(queue({"remove", "甲", "--done"})).wait(), 2);

    Child added(queue({"add", "甲", "引\"号\\", "--tries", "2"}));
    EXPECT_EQ(added.wait(), 0) << added.errors();
    EXPECT_EQ(added.output(), "甲: added\n引\"号\\\\: added\n");  // escaped for the terminal
    // Queued once, in the order given, however often a list names it.
    Child again(queue({"add", "乙", "甲", "乙"}));
    EXPECT_EQ(again.wait(), 0);
    EXPECT_EQ(again.output(),
              "乙: added\n甲: already queued (waiting)\n乙: already queued (waiting)\n");
    ASSERT_EQ(Child(queue({"remove", "乙"})).wait(), 0);

    ASSERT_TRUE(PgServer::shared().admin(
        "UPDATE \"MSysQueue\" SET state = 'failed', tries = 2, reason = E'search page: 500\\n' "
        "WHERE keyword = '甲'",
        database_));
    Child listed(queue({"--json"}));
    ASSERT_EQ(listed.wait(), 0) << listed.errors();
    const std::string out = listed.output();
    const std::string first = out.substr(0, out.find('\n') + 1);
    EXPECT_EQ(first.rfind("{\"keyword\":\"甲\",\"state\":\"failed\",\"worker\":null,\"rows\":0,"
                          "\"members\":null,\"tries\":2,\"reason\":\"search page: 500\\n\","
                          "\"profile\":\"内置\",\"added\":\"20",
                          0),
              0U)
        << out;
    EXPECT_NE(first.find("Z\",\"updated\":\"20"), std::string::npos) << first;
    EXPECT_EQ(first.substr(first.size() - 4), "Z\"}\n") << first;
    EXPECT_NE(out.find("{\"keyword\":\"引\\\"号\\\\\",\"state\":\"waiting\""), std::string::npos)
        << out;

    Child retried(queue({"retry", "--failed"}));
    EXPECT_EQ(retried.wait(), 0) << retried.errors();
    EXPECT_EQ(retried.output(), "甲: waiting\n");
    EXPECT_EQ(
        server_value("SELECT state || tries || reason FROM \"MSysQueue\" WHERE keyword = '甲'"),
        "waiting0");

    ASSERT_TRUE(PgServer::shared().admin(
        "UPDATE \"MSysQueue\" SET state = 'running', worker = 'elsewhere:1', "
        "lease_end = now() + interval '1 hour' WHERE keyword = '甲'; "
        "UPDATE \"MSysQueue\" SET state = 'done' WHERE keyword <> '甲'",
        database_));
    Child refused(queue({"remove", "甲", "乙"}));
    EXPECT_EQ(refused.wait(), 1);
    EXPECT_EQ(refused.errors(),
              "qinglan: '甲' is running, not removed\nqinglan: '乙' is not queued\n");
    Child plain(queue({}));
    ASSERT_EQ(plain.wait(), 0);
    EXPECT_EQ(plain.output().rfind("甲\trunning\telsewhere:1\t0\t-\t0/2\t-\t内置\t", 0), 0U)
        << plain.output();
    Child removed(queue({"remove", "--done"}));
    EXPECT_EQ(removed.wait(), 0) << removed.errors();
    EXPECT_EQ(removed.output(), "引\"号\\\\: removed\n");
    EXPECT_EQ(server_value("SELECT string_agg(keyword, ',') FROM \"MSysQueue\""), "甲");
}

// A keyword the site cannot search for is refused before the server is
// asked, named as collect names it: by its place among the keywords (queue's
// verb is none) or by its keyword file's line. Nothing of the list is queued.
TEST_F(QueueServerTest, AKeywordTheSiteRefusesQueuesNone) {
    const std::string said = ": U+1F600 is not a GBK character: the keyword cannot be searched\n";
    Child given(queue({"add", "甲", "茶😀"}));
    EXPECT_EQ(given.wait(), 2);
    EXPECT_EQ(given.errors(), "qinglan: keyword 2" + said);

    const std::string list = (dir_ / "list.txt").string();
    std::ofstream(list, std::ios::binary) << "乙\n# 注释\n茶😀\n";
    Child from_file(queue({"add", "甲", "--keywords-file", list}));
    EXPECT_EQ(from_file.wait(), 2);
    EXPECT_EQ(from_file.errors(), "qinglan: " + list + ":3" + said);

    // The verb is not counted among the keywords.
    Child garbled(queue({"add", "甲", "\xFF"}));
    EXPECT_EQ(garbled.wait(), 2);
    EXPECT_NE(garbled.errors().find("keyword 2 is not UTF-8 text (byte 1)"), std::string::npos)
        << garbled.errors();

    Child listed(queue({}));
    ASSERT_EQ(listed.wait(), 0) << listed.errors();
    EXPECT_EQ(listed.output(), "");
}

// The profile travels with the entry: the worker collects under it though
// its file is gone and the worker names no site of its own.
TEST_F(QueueServerTest, EachKeywordIsCollectedUnderTheProfileItWasQueuedWith) {
    market_.serve_folder(std::string(QINGLAN_TEST_DATA) + "/marketplace");
    serve_members("手机", 2);
    const std::filesystem::path profile = dir_ / "shop.ini";
    std::filesystem::copy_file(std::string(QINGLAN_TEST_SOURCE) + "/../sites/sample_shop.ini",
                               profile);
    ASSERT_EQ(Child(queue({"add", "茶叶", "--site", profile.string()})).wait(), 0);
    ASSERT_EQ(Child(queue({"add", "手机"})).wait(), 0);
    std::filesystem::remove(profile);
    Child drained(worker());
    EXPECT_EQ(drained.wait(), 0) << drained.errors();
    Child tables(on_server("tables", {}));
    ASSERT_EQ(tables.wait(), 0) << tables.errors();
    EXPECT_NE(tables.output().find("茶叶\t"), std::string::npos) << tables.output();
    EXPECT_NE(tables.output().find("\tcomplete\t示例市场\n"), std::string::npos) << tables.output();
    EXPECT_NE(tables.output().find("手机\t2\t2\tcomplete\t内置\n"), std::string::npos)
        << tables.output();
    EXPECT_EQ(server_value("SELECT string_agg(keyword || ' ' || state || ' ' || profile, ',' "
                           "ORDER BY keyword) FROM \"MSysQueue\""),
              "手机 done 内置,茶叶 done 示例市场");
}

TEST_F(QueueServerTest, ThreeWorkersDrainThirtyKeywordsTakingNoneTwice) {
    std::vector<std::string> add = {"add"};
    for (int i = 0; i < 30; ++i) {
        const std::string keyword = "队" + std::to_string(i);
        qinglan::serve_members(market_, keyword, "q" + std::to_string(i) + "m", 6, 20);
        add.push_back(keyword);
    }
    ASSERT_EQ(Child(queue(add)).wait(), 0);
    std::vector<std::unique_ptr<Child>> workers;
    for (int w = 0; w < 3; ++w) {
        workers.push_back(std::make_unique<Child>(worker({"--tasks", "2"})));
    }
    int lines = 0;
    for (auto& w : workers) {
        EXPECT_EQ(w->wait(), 0) << w->errors();
        for (const char c : w->output()) {
            lines += c == '\n';
        }
    }
    EXPECT_EQ(lines, 30);  // one finished try per keyword in all
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(rows_and_companies("队" + std::to_string(i)), "6 6") << i;
    }
    EXPECT_EQ(server_value("SELECT count(*) FROM \"MSysQueue\" WHERE state = 'done' AND "
                           "tries = 1 AND rows_stored = 6 AND members = 6"),
              "30");
    const std::map<std::string, int> searches = search_requests();
    EXPECT_EQ(searches.size(), 30U);
    for (const auto& [key, count] : searches) {
        EXPECT_EQ(count, 1) << key;
    }
}

TEST_F(QueueServerTest, AKilledWorkersKeywordIsFinishedByAnother) {
    serve_members("杀", 60, 30);
    ASSERT_EQ(Child(queue({"add", "杀"})).wait(), 0);
    Child killed(worker({"--parallel", "2", "--lease", "2"}));
    wait_for_rows("杀", 8);
    killed.send_signal(SIGKILL);
    EXPECT_EQ(killed.wait(), 128 + SIGKILL);
    const int kept = rows_of("杀");
    ASSERT_LT(kept, 60);

    Child next(worker({"--parallel", "8"}));
    EXPECT_EQ(next.wait(), 0) << next.errors();
    EXPECT_EQ(next.output(), "杀: collected 60 of 60 members, 60 rows stored (" +
                                 std::to_string(kept) + " by an earlier run)\n");
    EXPECT_EQ(rows_and_companies("杀"), "60 60");
    EXPECT_EQ(server_value("SELECT state || ' ' || tries FROM \"MSysQueue\""), "done 2");
}

// A stopped worker keeps its server sessions and so its claim: the next
// worker waits for its lease to run out, ends those sessions and finishes
// the keyword; continued, the stopped one stores nothing more into it.
TEST_F(QueueServerTest, AStoppedWorkerLosesItsKeywordAndStoresNothingMore) {
    serve_members("停", 120, 10);
    ASSERT_EQ(Child(queue({"add", "停"})).wait(), 0);
    Child stopped(worker({"--parallel", "1", "--lease", "2"}));
    wait_for_rows("停", 10);
    stopped.send_signal(SIGSTOP);
    std::this_thread::sleep_for(300ms);  // rows on their way are in
    const int kept = rows_of("停");
    ASSERT_LT(kept, 100);

    Child next(worker({"--parallel", "8"}));
    EXPECT_EQ(next.wait(), 0) << next.errors();
    EXPECT_EQ(next.output(), "停: collected 120 of 120 members, 120 rows stored (" +
                                 std::to_string(kept) + " by an earlier run)\n");
    EXPECT_EQ(rows_and_companies("停"), "120 120");

    stopped.send_signal(SIGCONT);
    EXPECT_EQ(stopped.wait(), 0) << stopped.errors();
    EXPECT_NE(stopped.output().find("停: "), std::string::npos);
    EXPECT_NE(stopped.output().find("another worker"), std::string::npos) << stopped.output();
    EXPECT_EQ(rows_and_companies("停"), "120 120");
    EXPECT_EQ(server_value("SELECT state || ' ' || rows_stored FROM \"MSysQueue\""), "done 120");
}

// The same with the lease ended behind the stopped worker's back, so that
// it goes on collecting before it would renew: the claim refuses its rows.
TEST_F(QueueServerTest, AWorkerThatMissedItsLeaseEndingHasItsRowsRefused) {
    serve_members("迟", 120, 10);
    ASSERT_EQ(Child(queue({"add", "迟"})).wait(), 0);
    Child stopped(worker({"--parallel", "1", "--lease", "60"}));
    wait_for_rows("迟", 10);
    stopped.send_signal(SIGSTOP);
    std::this_thread::sleep_for(300ms);
    const int kept = rows_of("迟");
    ASSERT_TRUE(PgServer::shared().admin(
        "UPDATE \"MSysQueue\" SET lease_end = now() - interval '1 second'", database_));

    Child next(worker({"--parallel", "8"}));
    EXPECT_EQ(next.wait(), 0) << next.errors();
    EXPECT_EQ(next.output(), "迟: collected 120 of 120 members, 120 rows stored (" +
                                 std::to_string(kept) + " by an earlier run)\n");
    stopped.send_signal(SIGCONT);
    EXPECT_EQ(stopped.wait(), 0) << stopped.errors();
    EXPECT_EQ(stopped.output().rfind("迟: failed: ", 0), 0U) << stopped.output();
    EXPECT_NE(stopped.output().find("another collector has taken the keyword"), std::string::npos)
        << stopped.output();
    EXPECT_NE(stopped.output().find("(taken over by another worker meanwhile)\n"),
              std::string::npos)
        << stopped.output();
    EXPECT_EQ(rows_and_companies("迟"), "120 120");
    EXPECT_EQ(server_value("SELECT state || ' ' || rows_stored FROM \"MSysQueue\""), "done 120");
}

TEST_F(QueueServerTest, ASignalledWorkerGivesItsKeywordBackWithoutCountingATry) {
    serve_members("还", 100, 30);
    ASSERT_EQ(Child(queue({"add", "还"})).wait(), 0);
    Child stopping(worker({"--parallel", "2"}));
    wait_for_rows("还", 5);
    const auto asked = std::chrono::steady_clock::now();
    stopping.send_signal(SIGTERM);
    EXPECT_EQ(stopping.wait(), 0) << stopping.errors();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
    EXPECT_EQ(server_value("SELECT state || ' ' || tries || ' [' || worker || ']' FROM "
                           "\"MSysQueue\""),
              "waiting 0 []");
    EXPECT_LT(rows_of("还"), 100);
}

TEST_F(QueueServerTest, AFailingKeywordIsTriedAgainThenLeftFailed) {
    serve_members("坏", 3);
    market_.set_default_behaviour({.status = 500});
    ASSERT_EQ(Child(queue({"add", "坏", "--tries", "2"})).wait(), 0);
    Child failing(worker({"--retries", "0"}));
    EXPECT_EQ(failing.wait(), 1);
    EXPECT_NE(failing.output().find("(to be tried again)\n"), std::string::npos)
        << failing.output();
    EXPECT_NE(failing.output().find("(failed: its tries are spent)\n"), std::string::npos)
        << failing.output();
    EXPECT_EQ(search_requests().begin()->second, 2);
    Child listed(queue({"--json"}));
    ASSERT_EQ(listed.wait(), 0);
    EXPECT_NE(listed.output().find("\"state\":\"failed\",\"worker\":null,\"rows\":0,"
                                   "\"members\":null,\"tries\":2,\"reason\":\"failed: search page"),
              std::string::npos)
        << listed.output();

    market_.set_default_behaviour({});
    ASSERT_EQ(Child(queue({"retry", "坏"})).wait(), 0);
    Child mended(worker());
    EXPECT_EQ(mended.wait(), 0) << mended.errors();
    EXPECT_EQ(mended.output(), "坏: collected 3 of 3 members, 3 rows stored\n");
    EXPECT_EQ(server_value("SELECT state || ' ' || tries FROM \"MSysQueue\""), "done 1");
}

}  // namespace
}  // namespace qinglan
