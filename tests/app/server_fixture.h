#pragma once

// The program run as a user runs it, storing into the PostgreSQL server the
// suite starts: a database of the test's own, and what it holds read back.

#include <string>
#include <vector>

#include "tests/app/collect_fixture.h"
#include "tests/pg_server.h"

namespace qinglan {

class ServerCollectFixture : public CollectFixture {
protected:
    void SetUp() override {
        CollectFixture::SetUp();
        url_ = test_database_url();
        ASSERT_FALSE(url_.empty());
        database_ = url_.substr(url_.rfind('/') + 1);
    }

    std::vector<std::string> on_server(const std::string& name, std::vector<std::string> rest) {
        rest.insert(rest.begin(), {"--database", url_});
        return command(name, std::move(rest));
    }

    std::string server_value(const std::string& sql) {
        return PgServer::shared().value(sql, database_);
    }
    // Rows stored for the keyword, and how many different companies they hold.
    std::string rows_and_companies(const std::string& table) {
        return server_value("SELECT count(*) || ' ' || count(DISTINCT \"公司名称\") FROM \"" +
                            table + "\"");
    }

    std::string url_;
    std::string database_;
};

}  // namespace qinglan
