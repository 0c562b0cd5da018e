#pragma once

// The team's database: the same tables as the local file, on a PostgreSQL
// server reached by a URL (postgresql://USER@HOST:PORT/DB). A database
// without the collector's tables gets them on the first open: the empty
// table "123" when it holds no table at all, and the state tables. Every
// keyword table has the thirteen text columns 编号, 地址, 公司名称, 用户账号,
// 电话, 传真, 称呼, 移动电话, 职位, 联系人, 邮编, 部门, 网站, in this order.
//
// A keyword's table is named by the keyword exactly (a quoted name, so
// letter case counts) when PostgreSQL can take it as it stands. A keyword it
// cannot take (empty, or longer than the server's identifier limit of 63
// bytes, which it would cut short and so mix with another keyword), one
// beginning with "MSys" (the collector's own names) or "pg_" (the server's),
// and one that names a table, view or type already on the server (a
// catalog's such as pg_class, or another program's) is stored in a table
// "MSysKeywordN" instead; the table "MSysKeywordTables" says which keyword
// each N is, and the table list shows the keyword. N is never used twice,
// so a keyword never reaches another keyword's table. Every statement names
// a keyword's table with its schema, so a catalog of the same name is never
// met, and only tables with a keyword's columns count as the collector's
// (see postgres_schema.h).
//
// The collection state lives in "MSysCollections" and
// "MSysCollectionMembers", as in the file; a row and its member's mark are
// one statement, so one transaction. Queued rows go to the server in
// batches (see RowBatches) while the collector goes on; every other write
// first waits until the rows handed over before it are answered. A claim on a keyword is a session
// advisory lock held by the writing session, the one that writes the rows:
// when that session is lost the server drops the claims with it, and the
// writes fail with it. The next statement connects again and takes the
// claims again. A keyword that another collector holds by then, or that
// another collector claimed in between (its number in MSysCollections is no
// longer this claim's, see KeywordClaims), refuses further rows: each row
// is stored only while the state holds this claim's number, checked in the
// row's own statement.
//
// The password comes from the URL, PGPASSWORD or ~/.pgpass, as libpq finds
// it; messages name the database with the password masked.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "storage/keyword_claims.h"
#include "storage/postgres_connection.h"
#include "storage/postgres_row_batches.h"
#include "storage/record_store.h"

namespace qinglan {

class PostgresStore final : public RecordStore {
public:
    // Connects and makes the tables that are missing; nullptr with the
    // reason when the server cannot be reached or used.
    static std::unique_ptr<PostgresStore> open(const std::string& url, std::string* error);

    ~PostgresStore() override;
    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;

    std::string location() const override;
    using RecordStore::ensure_table;
    bool ensure_table(std::string_view table, std::string_view site, std::string* error) override;
    bool save_members_from(std::string_view table, int first,
                           const std::vector<std::string>& members, int next_page,
                           bool replace_rows, std::string* error) override;
    bool insert_record(std::string_view table, const ContactRecord& record, int member,
                       std::string* error) override;
    void queue_record(std::string_view table, const ContactRecord& record, int member,
                      std::vector<QueuedRow>* settled) override;
    void settle_rows(std::string_view table, std::vector<QueuedRow>* settled) override;
    bool read_state(std::string_view table, CollectionState* state, std::string* error) override;
    bool forget(const std::vector<std::string>& tables, std::string* error) override;
    bool claim(std::string_view table, std::string* error) override;
    void release(std::string_view table) override;
    bool claim_lost(std::string_view table) override;
    void interrupt() override;
    bool read_table_names(std::vector<std::string>* names, std::string* error) override;
    bool read_rows(std::string_view table, const std::function<bool(ContactRecord&&)>& sink,
                   std::string* error) override;
    bool count_rows(std::string_view table, long long* count, std::string* error) override;
    bool import_table(std::string_view table, const std::vector<ContactRecord>& rows,
                      const CollectionState& state, std::string* error) override;

    // Runs one statement on the writing session; for tests and tools.
    bool execute(const std::string& sql, std::string* error);

private:
    explicit PostgresStore(std::string url);

    bool create_schema(std::string* error);
    bool retake_claims(postgres::Connection& connection, std::string* error);
    // Whether the keyword's table must be numbered, whatever the server holds.
    bool must_map(std::string_view table) const;
    // The name of the keyword's table, unquoted; empty when it has none.
    static bool find_table(postgres::Connection& connection, std::string_view table,
                           std::string* name, std::string* error);
    // The keyword's table with its schema, quoted; false when it has none.
    bool table_name(postgres::Connection& connection, std::string_view table, std::string* quoted,
                    std::string* error);
    // Makes the keyword's table and its state, unless it exists, inside a
    // transaction of the writing session that holds the schema lock.
    bool create_table(std::string_view table, std::string_view site, bool* created,
                      std::string* error);
    // Inside a transaction of the writing session: true when the keyword is
    // not claimed here or its claim stands; false with the reason otherwise.
    bool claim_stands(std::string_view table, std::string* error);
    // The members from position `first` on, with their marks (none stored
    // where `stored` is short).
    bool save_members(std::string_view table, int first, const std::vector<std::string>& members,
                      const std::vector<bool>& stored, std::string* error);
    void forget_mapping(std::string_view table);

    // The row's statement (with its member's mark) into the keyword's table,
    // its values in `params`; false with the reason when it cannot go. A row
    // of a claimed keyword gets the reason in `unheld` with which it is
    // refused when its statement stores nothing.
    bool row_statement(std::string_view table, int member, std::vector<postgres::Param>* params,
                       std::string* sql, std::string* error, std::string* unheld);
    static std::vector<postgres::Param> record_values(const ContactRecord& record);
    // The writing session for the caller alone, once every row handed over
    // before is answered: what every write but a queued row starts with.
    [[nodiscard]] std::unique_lock<std::mutex> lock_writer();
    // Reads what came back of the batch on the way, waiting with `wait` or
    // when a whole batch is waiting behind it; sends the waiting rows once
    // nothing is on the way and enough of them wait, or the first long
    // enough. Under write_mutex_, as all below but send_late_rows and
    // stop_sender, which take it.
    void pump(bool wait);
    void wait_in_line(postgres::RowBatches::Row row, bool first);
    void send_late_rows();
    void stop_sender();
    void send_waiting();
    void answer(postgres::RowBatches::Row row, bool stored, const std::string& reason,
                bool unheld = false);
    // Sends every waiting row and waits for every answer.
    void drain_rows();
    void take_answers(std::string_view table, std::vector<QueuedRow>* settled);

    const std::string url_;
    std::size_t name_limit_ = 63;  // the server's longest name, in bytes
    std::string schema_;           // where the tables are, quoted, with its dot; set on open

    std::mutex write_mutex_;
    postgres::Connection writer_;
    // Claims held by this collector, and those lost since; under write_mutex_.
    ClaimNumbers claim_numbers_;
    // Rows go out once this many wait, or once the first has waited this long.
    static constexpr std::size_t kFullBatch = 16;
    static constexpr std::chrono::milliseconds kLongestWait{50};
    postgres::RowBatches batches_{writer_};
    std::deque<postgres::RowBatches::Row> waiting_;  // queued, not sent yet
    std::chrono::steady_clock::time_point first_waiting_;
    std::thread sender_;  // sends the rows that waited long; from the first queued row on
    std::condition_variable sender_wake_;
    bool closing_ = false;
    std::unordered_map<std::string, std::vector<QueuedRow>> answers_;  // by table, not taken yet
    std::atomic<bool> interrupted_{false};

    std::mutex read_mutex_;
    postgres::Connection reader_;

    std::mutex names_mutex_;
    std::unordered_map<std::string, std::string> table_names_;  // keyword → table, quoted
};

}  // namespace qinglan
