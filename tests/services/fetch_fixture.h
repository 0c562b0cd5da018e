#pragma once

// A sample marketplace on 127.0.0.1 for the fetch tests, with short limits
// and retries, and the address of a path on it.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "services/fetch.h"
#include "tools/sample_marketplace.h"

namespace qinglan {

class FetchFixture : public testing::Test {
protected:
    static constexpr long kStallSeconds = 2;

    FetchFixture() {
        settings_.connect_seconds = 5;
        settings_.stall_seconds = kStallSeconds;
        settings_.retry_base_ms = 10;
    }
    void SetUp() override {
        set_fetch_settings(settings_);
        ASSERT_TRUE(market_.start());
    }
    void TearDown() override {
        market_.stop();
        set_fetch_settings({});
    }

    std::string url(std::string_view path) const {
        return "http://" + market_.search_host() + std::string(path);
    }

    FetchSettings settings_;
    SampleMarketplace market_;
};

}  // namespace qinglan
