// A collection killed with SIGKILL at random instants and run again after
// each kill must end as an uninterrupted collection of the same marketplace
// ends: the same rows, field for field, in the same order, and the keyword
// complete. The program runs in child processes, as a user runs it.
//
// The instants come from a seed printed by the test; QINGLAN_CRASH_SEED=N
// runs the same schedule again.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/request.h"
#include "services/charset.h"
#include "tests/app/child_process.h"
#include "tests/app/collect_fixture.h"
#include "tests/temp_folder.h"
#include "tools/sample_marketplace.h"

namespace qinglan {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Row = std::vector<std::optional<std::string>>;

constexpr int kMembers = 100;
constexpr int kKills = 5;
// Long enough for the kills to land inside the collection, short enough for
// the whole test to stay within seconds.
constexpr int kCardDelayMs = 20;
constexpr int kSearchDelayMs = 60;

// Every row of the table in rowid order, every column, NULL told from
// empty; nothing when the table is missing.
std::vector<Row> stored_rows(const fs::path& data_dir, const std::string& table) {
    std::vector<Row> rows;
    sqlite3* db = nullptr;
    const std::string path = (data_dir / "date" / "lingshishuj.db").string();
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* statement = nullptr;
    const std::string sql = "SELECT * FROM \"" + table + "\" ORDER BY rowid";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            Row row;
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                if (sqlite3_column_type(statement, c) == SQLITE_NULL) {
                    row.emplace_back();
                } else {
                    const auto* text =
                        reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
                    row.emplace_back(std::string(
                        text, static_cast<std::size_t>(sqlite3_column_bytes(statement, c))));
                }
            }
            rows.push_back(std::move(row));
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

std::string integrity_of(const fs::path& data_dir) {
    std::string result;
    sqlite3* db = nullptr;
    const std::string path = (data_dir / "date" / "lingshishuj.db").string();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return result;
}

// How far the keyword got: whether the kill came before the table, before
// the member list or amid the rows.
std::string progress_of(const fs::path& data_dir, const std::string& keyword) {
    const fs::path path = data_dir / "date" / "lingshishuj.db";
    if (!fs::exists(path)) {
        return "no database yet";
    }
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    int listed = -1;
    if (sqlite3_open_v2(path.string().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT listed FROM MSysCollections WHERE keyword = ?1", -1,
                           &statement, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(statement, 1, keyword.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(statement) == SQLITE_ROW) {
            listed = sqlite3_column_int(statement, 0);
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    if (listed < 0) {
        return "no table yet";
    }
    if (listed == 0) {
        return "member list not saved yet";
    }
    return std::to_string(stored_rows(data_dir, keyword).size()) + " rows stored";
}

std::string shown(const Row& row) {
    std::string text;
    for (const auto& value : row) {
        text += (text.empty() ? "" : " | ") + value.value_or("NULL");
    }
    return text;
}

// Members whose every field differs from the others', so a row stored twice,
// left out or put in the wrong place cannot pass for another.
void serve_members_with_contacts(SampleMarketplace& market, const std::string& keyword) {
    std::string page = "<html><head><title>公司搜索</title></head><body><ul>\n";
    for (int i = 0; i < kMembers; ++i) {
        const std::string n = std::to_string(i);
        const std::string account = "crash" + std::to_string(1000 + i);
        page += "<li companyId=\"" + account + "\">公司" + n + "</li>\n";
        auto field = [](const std::string& name, const std::string& value) {
            return "\"" + name + "\":\"" + value + "\",";
        };
        const std::string card =
            "{\"result\":{" + field("name", "青岚" + n + "号有限公司") + field("success", "true") +
            "\"contact\":{" + field("id", n) + field("name", "联系人" + n) +
            field("memberId", account) + field("department", "部门" + n) +
            field("title", "职位" + n) + field("sex", i % 2 == 0 ? "m" : "f") +
            field("telephone", "0571-" + std::to_string(20000000 + i)) +
            field("fax", "0571-" + std::to_string(30000000 + i)) +
            field("address", "杭州市" + n + "号") + field("zipCode", std::to_string(310000 + i)) +
            field("homePage", "[http://" + account + ".cn.alibaba.com]") + "\"end\":\"\"}}}";
        market.set_resource("card/" + account, gbk(card));
        market.set_behaviour("card/" + account, {.delay_ms = kCardDelayMs});
        market.set_resource(
            "contact/" + account,
            gbk("<html><head><title>青岚" + n + "号有限公司 联系人" + n + " " +
                std::to_string(13900000000LL + i) + "</title></head><body>联系方式</body></html>"));
    }
    page += "</ul></body></html>";
    const std::string search_key = "search/" + encode_keyword(utf8_to_gbk(keyword));
    market.set_resource(search_key, gbk(page));
    market.set_behaviour(search_key, {.delay_ms = kSearchDelayMs});
}

unsigned crash_seed() {
    if (const char* given = std::getenv("QINGLAN_CRASH_SEED")) {
        return static_cast<unsigned>(std::strtoul(given, nullptr, 10));
    }
    return std::random_device{}();
}

// When each run is killed, in milliseconds after it starts. `start_ms` is
// what a run takes that has nothing to collect (start, open, read, end);
// `run_ms` what the uninterrupted collection took. The first kill lands
// about when the program opens its database, the second while the search
// page is on its way. The others cut the time of the members into random
// pieces, one of them near the end; since every run carries on where the
// one before stopped, each piece counted from its run's start spreads them
// over the whole collection. Until a run has saved the member list, every
// run waits for the search page again, so the pieces count from its arrival.
std::vector<int> kill_delays(std::mt19937& random, int start_ms, int run_ms) {
    auto between = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, std::max(low, high))(random);
    };
    std::vector<int> delays = {between(0, start_ms / 2),
                               between(start_ms / 2, start_ms + kSearchDelayMs)};
    // A resumed run asks for no search page; the last tenth is left out, as
    // a kill after the end proves nothing and the runs' speed varies.
    const int work_ms = std::max(1, (run_ms - start_ms - kSearchDelayMs) * 9 / 10);
    std::vector<int> points = {between(work_ms * 8 / 10, work_ms)};
    while (points.size() + delays.size() < kKills) {
        points.push_back(between(0, work_ms));
    }
    std::sort(points.begin(), points.end());
    int before = 0;
    for (const int point : points) {
        delays.push_back(start_ms + kSearchDelayMs + point - before);
        before = point;
    }
    return delays;
}

class CrashResumeTest : public CollectFixture {
protected:
    void SetUp() override {
        CollectFixture::SetUp();
        serve_members_with_contacts(market_, kKeyword);
    }

    std::vector<std::string> command(const fs::path& data_dir, const std::string& name,
                                     std::vector<std::string> rest = {}) {
        return command_in(data_dir, name, std::move(rest));
    }

    const std::string kKeyword = "崩溃";
    const fs::path reference_dir_ = folder_.path() / "reference";
    const fs::path crash_dir_ = folder_.path() / "killed";
};

TEST_F(CrashResumeTest, KilledCollectionsEndAsAnUninterruptedOne) {
    const unsigned seed = crash_seed();
    std::printf("seed %u (QINGLAN_CRASH_SEED=%u repeats the kills)\n", seed, seed);
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);

    // Two uninterrupted runs, which must agree; the faster one times the
    // kills, as a run slowed by a busy machine would put them past the end.
    int run_ms = 0;
    for (const fs::path& dir : {reference_dir_, folder_.path() / "again"}) {
        const auto started = Clock::now();
        Child reference(command(dir, "collect", {kKeyword}));
        ASSERT_EQ(reference.wait(), 0) << reference.errors();
        const int ms = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
        run_ms = run_ms == 0 ? ms : std::min(run_ms, ms);
    }
    const std::vector<Row> expected = stored_rows(reference_dir_, kKeyword);
    ASSERT_EQ(stored_rows(folder_.path() / "again", kKeyword), expected);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kMembers));
    // Only filled fields make the comparison tell rows apart (编号 stays empty).
    for (std::size_t c = 1; c < expected[0].size(); ++c) {
        EXPECT_NE(expected[0][c].value_or(""), "") << "column " << c << ": " << shown(expected[0]);
    }
    // The median of three, as one start may meet a busy machine.
    std::vector<int> idle_ms;
    for (int i = 0; i < 3; ++i) {
        const auto restarted = Clock::now();
        Child idle(command(reference_dir_, "collect", {kKeyword}));
        ASSERT_EQ(idle.wait(), 0) << idle.errors();
        idle_ms.push_back(static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - restarted)
                .count()));
    }
    std::sort(idle_ms.begin(), idle_ms.end());
    const int start_ms = idle_ms[1];
    std::printf(
        "uninterrupted collection: %d ms (the faster of two); a run with nothing to "
        "collect: %d ms\n",
        run_ms, start_ms);

    int killed = 0;
    std::string schedule;
    for (const int delay : kill_delays(random, start_ms, run_ms)) {
        Child child(command(crash_dir_, "collect", {kKeyword}));
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        child.kill_now();
        const int status = child.wait();
        killed += child.end_signal() == SIGKILL ? 1 : 0;
        schedule += "after " + std::to_string(delay) + " ms: " +
                    (child.end_signal() == SIGKILL ? std::string("killed")
                                                   : "exited with " + std::to_string(status)) +
                    ", " + progress_of(crash_dir_, kKeyword) + "\n";
    }
    std::printf("%s", schedule.c_str());
    // A kill after the end proves nothing; one that lands before it always can.
    EXPECT_GE(killed, 1) << schedule;

    Child last(command(crash_dir_, "collect", {kKeyword}));
    EXPECT_EQ(last.wait(), 0) << last.errors();
    EXPECT_EQ(integrity_of(crash_dir_), "ok");

    const std::vector<Row> rows = stored_rows(crash_dir_, kKeyword);
    EXPECT_EQ(rows.size(), expected.size()) << "seed " << seed << "\n" << schedule;
    for (std::size_t i = 0; i < std::min(rows.size(), expected.size()); ++i) {
        ASSERT_EQ(rows[i], expected[i])
            << "row " << i + 1 << ", seed " << seed << "\n  stored:   " << shown(rows[i])
            << "\n  expected: " << shown(expected[i]) << "\n"
            << schedule;
    }

    Child tables(command(crash_dir_, "tables"));
    ASSERT_EQ(tables.wait(), 0) << tables.errors();
    EXPECT_NE(tables.output().find(kKeyword + "\t100\t100\tcomplete\t内置\n"), std::string::npos)
        << tables.output();
}

}  // namespace
}  // namespace qinglan
