#pragma once

// One session with a PostgreSQL server, made again when it was lost: a
// server restarted, a network cut. Not thread-safe: the store serialises the
// use of each connection with its own mutex; only cancel() may be called
// from any thread.
//
// Texts go to the server as text parameters (bound, never spliced into SQL)
// and accounts as binary ones; results come back as text.

#include <libpq-fe.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "storage/sql_name.h"

namespace qinglan::postgres {

// A result that clears itself.
struct ResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// A statement parameter: text, or bytes sent as they are (for bytea).
struct Param {
    std::string value;
    bool binary = false;
};

using qinglan::quote_name;

// A message of libpq's or the server's, which run over several lines, on one.
std::string one_line(const char* message);

// The URL with its password, if any, replaced by "***": for every message
// that names the database.
std::string masked_url(std::string_view url);

class Connection {
public:
    // `on_connect` runs after each (re)connection, before any statement of
    // the caller; false with a reason makes the connection count as failed.
    Connection(std::string url, std::function<bool(Connection&, std::string*)> on_connect = {});
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connected, reconnecting when the session was lost; false with the reason.
    bool ensure(std::string* error);

    // Runs one statement; nullptr with the reason when it failed.
    Result exec(const std::string& sql, const std::vector<Param>& params, std::string* error);
    // The same for a statement run again and again (a row's insert): it is
    // parsed and planned once per session.
    Result exec_prepared(const std::string& sql, const std::vector<Param>& params,
                         std::string* error);
    bool run(const std::string& sql, std::string* error) { return exec(sql, {}, error) != nullptr; }

    // The name of the statement prepared for `sql` in this session,
    // preparing it now unless done before; the session is made and idle.
    bool prepare(const std::string& sql, int params, std::string* name, std::string* error);
    // Drops the statement prepared for `sql`: its table may have gone.
    void forget_prepared(const std::string& sql);
    // Sends a prepared statement without waiting for its answer (in
    // pipeline mode); false when it could not be sent.
    bool send_prepared(const std::string& name, const std::vector<Param>& params);

    // Sends a query whose rows then come one at a time from next_row(); the
    // caller reads to the end (next_row() false) before the next statement.
    bool send_single_rows(const std::string& sql, const std::vector<Param>& params,
                          std::string* error);
    // The next row (a one-row result) in `row`, the end, or the failure
    // with its reason in `error` (the rest of the answer then read away).
    enum class Fetch { kRow, kEnd, kFailed };
    Fetch next_row(Result* row, std::string* error);

    // Asks the server to end the statement running now, if any.
    void cancel();

    PGconn* raw() { return conn_; }

private:
    bool alive();
    void close();

    const std::string url_;
    std::function<bool(Connection&, std::string*)> on_connect_;
    PGconn* conn_ = nullptr;
    std::unordered_map<std::string, std::string> prepared_;  // SQL → name, of this session
    long statements_ = 0;                                    // names given so far
    std::mutex cancel_mutex_;
    PGcancel* cancel_ = nullptr;  // under cancel_mutex_
};

// A transaction on a connection, rolled back unless committed.
class Transaction {
public:
    explicit Transaction(Connection& connection) : connection_(connection) {}
    ~Transaction() {
        if (open_) {
            connection_.run("ROLLBACK", nullptr);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool begin(std::string* error, const char* mode = "BEGIN") {
        open_ = connection_.run(mode, error);
        return open_;
    }
    bool commit(std::string* error) {
        open_ = false;
        return connection_.run("COMMIT", error);
    }

private:
    Connection& connection_;
    bool open_ = false;
};

}  // namespace qinglan::postgres
