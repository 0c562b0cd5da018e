#pragma once

// A data folder and a sample marketplace on 127.0.0.1 for tests that run the
// qinglan program as a user runs it, with the rows it stored read back.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/marketplace_pages.h"
#include "tests/temp_folder.h"
#include "tools/sample_marketplace.h"

namespace qinglan {

class CollectFixture : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(market_.start()); }
    void TearDown() override { market_.stop(); }

    std::vector<std::string> command(const std::string& name, std::vector<std::string> rest) {
        return command_in(dir_, name, std::move(rest));
    }

    // The same for another data folder.
    std::vector<std::string> command_in(const std::filesystem::path& data_dir,
                                        const std::string& name, std::vector<std::string> rest) {
        std::vector<std::string> args = {QINGLAN_PROGRAM,    name,
                                         "--data-dir",       data_dir.string(),
                                         "--search-host",    market_.search_host(),
                                         "--member-host",    market_.member_host(),
                                         "--contact-domain", market_.contact_domain(),
                                         "--stall-timeout",  "5"};
        args.insert(args.end(), rest.begin(), rest.end());
        return args;
    }

    void serve_members(const std::string& keyword, int count, int card_delay_ms = 0) {
        qinglan::serve_members(market_, keyword, "m", count, card_delay_ms);
    }

    long long count_rows(const std::string& table, std::string* integrity = nullptr) {
        sqlite3* db = nullptr;
        const std::string path = (dir_ / "date" / "lingshishuj.db").string();
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        long long count = -1;
        auto first_value = [&](const std::string& sql) {
            std::string value;
            sqlite3_stmt* statement = nullptr;
            if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
                sqlite3_step(statement) == SQLITE_ROW) {
                value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            }
            sqlite3_finalize(statement);
            return value;
        };
        if (integrity != nullptr) {
            *integrity = first_value("PRAGMA integrity_check");
        }
        const std::string counted = first_value("SELECT count(*) FROM \"" + table + "\"");
        if (!counted.empty()) {
            count = std::stoll(counted);
        }
        sqlite3_close(db);
        return count;
    }

    TempFolder folder_{testing::UnitTest::GetInstance()->current_test_info()->name()};
    const std::filesystem::path dir_ = folder_.path();
    SampleMarketplace market_;
};

}  // namespace qinglan
