#pragma once

// A data folder of its own for each storage test, the store opened on it,
// and records that are easy to tell apart. StoreTest runs a test on both
// stores: the SQLite file in the folder, and a database of the test's own on
// the test server.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "storage/postgres_store.h"
#include "storage/sqlite_store.h"
#include "tests/pg_server.h"
#include "tests/temp_folder.h"

namespace qinglan {

inline std::vector<ContactRecord> rows_of(RecordStore& store, const std::string& table) {
    std::vector<ContactRecord> result;
    std::string error;
    EXPECT_TRUE(store.read_rows(
        table,
        [&](ContactRecord&& r) {
            result.push_back(std::move(r));
            return true;
        },
        &error))
        << error;
    return result;
}

inline CollectionState state_of(RecordStore& store, const std::string& table) {
    CollectionState state;
    std::string error;
    EXPECT_TRUE(store.read_state(table, &state, &error)) << error;
    return state;
}

class SqliteStoreTest : public testing::Test {
protected:
    TempFolder folder_{testing::UnitTest::GetInstance()->current_test_info()->name()};
    const std::filesystem::path dir_ = folder_.path();

    std::unique_ptr<SqliteStore> open_store() {
        std::string error;
        auto store = SqliteStore::open(dir_.string(), &error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    std::vector<ContactRecord> rows(SqliteStore& store, const std::string& table) {
        return rows_of(store, table);
    }
};

enum class StoreKind { kSqlite, kPostgres };

inline std::string store_kind_name(const testing::TestParamInfo<StoreKind>& info) {
    return info.param == StoreKind::kSqlite ? "Sqlite" : "Postgres";
}

class StoreTest : public testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override {
        if (postgres()) {
            url_ = test_database_url();
            ASSERT_FALSE(url_.empty());
        }
    }

    bool postgres() const { return GetParam() == StoreKind::kPostgres; }

    // Ends every claim the open stores hold without their knowing, as a
    // deleted claims file or a server that dropped their sessions does.
    void end_claims_unseen() {
        if (postgres()) {
            ASSERT_TRUE(PgServer::shared().admin(
                "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = "
                "'qinglan' AND pid <> pg_backend_pid() AND datname = current_database()",
                url_.substr(url_.rfind('/') + 1)));
        } else {
            std::filesystem::remove(dir_ / "date" / "lingshishuj.claims");
        }
    }
    // What a second store, or another program, opens.
    std::string place() const { return postgres() ? url_ : dir_.string(); }

    std::unique_ptr<RecordStore> open_store() {
        std::string error;
        std::unique_ptr<RecordStore> store;
        if (postgres()) {
            store = PostgresStore::open(url_, &error);
        } else {
            store = SqliteStore::open(dir_.string(), &error);
        }
        EXPECT_TRUE(store) << error;
        return store;
    }

    // Runs a statement of the store's own dialect on its writing connection.
    static bool execute(RecordStore& store, const std::string& sql) {
        std::string error;
        bool done = false;
        if (auto* sqlite = dynamic_cast<SqliteStore*>(&store)) {
            done = sqlite->execute(sql, &error);
        } else if (auto* postgres = dynamic_cast<PostgresStore*>(&store)) {
            done = postgres->execute(sql, &error);
        }
        EXPECT_TRUE(done) << sql << ": " << error;
        return done;
    }

    TempFolder folder_{"store-" + std::to_string(::getpid()) + "-" +
                       std::to_string(reinterpret_cast<std::uintptr_t>(this))};
    const std::filesystem::path dir_ = folder_.path();
    std::string url_;
};

inline ContactRecord record_of(const std::string& seed) {
    ContactRecord record;
    for (int i = 0; i < kRecordFields; ++i) {
        record[static_cast<std::size_t>(i)] = seed + std::to_string(i);
    }
    return record;
}

}  // namespace qinglan
