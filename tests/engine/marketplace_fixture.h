#pragma once

// A data folder, a database and a sample marketplace on 127.0.0.1 for the
// engine's tests, with helpers to load the saved pages of tests/data as the
// GBK bytes the marketplace sends.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "engine/request.h"
#include "services/charset.h"
#include "services/fetch.h"
#include "storage/sqlite_store.h"
#include "tests/temp_folder.h"
#include "tools/sample_marketplace.h"

namespace qinglan {

class MarketplaceFixture : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(market_.start());
        set_fetch_settings({.connect_seconds = 5, .stall_seconds = 5, .retry_base_ms = 10});
    }

    void TearDown() override {
        market_.stop();
        store_.reset();
        set_fetch_settings({});
    }

    SqliteStore& store() {
        if (!store_) {
            std::string error;
            store_ = SqliteStore::open(data_dir_.string(), &error);
            EXPECT_TRUE(store_) << error;
        }
        return *store_;
    }

    MarketHosts hosts() const {
        return {market_.search_host(), market_.member_host(), market_.contact_domain()};
    }

    // A saved page of tests/data/collect (UTF-8 there), as GBK.
    static std::string saved_page(const std::string& name) {
        const std::string text =
            file_contents(std::filesystem::path(QINGLAN_TEST_DATA) / "collect" / name);
        EXPECT_FALSE(text.empty()) << name;
        return utf8_to_gbk(text);
    }

    // The search page resource key of a keyword typed in UTF-8.
    static std::string search_key(const std::string& keyword) {
        return "search/" + encode_keyword(utf8_to_gbk(keyword));
    }

    std::vector<ContactRecord> stored_rows(const std::string& table) {
        std::vector<ContactRecord> rows;
        std::string error;
        EXPECT_TRUE(store().read_rows(
            table,
            [&](ContactRecord&& r) {
                rows.push_back(std::move(r));
                return true;
            },
            &error))
            << error;
        return rows;
    }

    TempFolder folder_{testing::UnitTest::GetInstance()->current_test_info()->name()};
    const std::filesystem::path data_dir_ = folder_.path();
    SampleMarketplace market_;
    std::unique_ptr<SqliteStore> store_;
};

}  // namespace qinglan
