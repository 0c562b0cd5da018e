#pragma once

// Rows of keyword tables sent to the server in batches while the collector
// goes on working: a batch goes out in one write, its answers come back in
// one read, so a row costs neither side a wait for the other. Each row is a
// transaction of its own inside the batch (BEGIN, the row's statement,
// COMMIT), and counts as stored only once its COMMIT has succeeded. A row
// that fails makes the server skip the rest of its batch; the skipped rows
// come back to be sent again, so one failure takes no other row with it.
//
// One batch is on the way at a time: rows handed over meanwhile wait for
// it and go out together in the next, so batches grow while the server is
// busy and a row goes out at once while it is not. Not thread-safe: the
// store serialises it with the writing session.

#include <libpq-fe.h>

#include <cstddef>
#include <string>
#include <vector>

#include "storage/postgres_connection.h"

namespace qinglan::postgres {

class RowBatches {
public:
    // One row: its table (for the answer), its statement and values.
    struct Row {
        std::string table;
        int member = -1;
        std::string sql;
        std::vector<Param> params;
        // When set, a statement that stores nothing refuses the row with
        // this reason: the condition it was stored under no longer holds.
        std::string unheld;
    };
    struct Answer {
        Row row;
        bool stored = false;
        std::string error;
        bool unheld = false;  // refused with the row's `unheld` reason
    };

    // The most rows in one batch: their answers must fit the socket's
    // buffers while the batch is still being written.
    static constexpr std::size_t kMostRows = 64;

    explicit RowBatches(Connection& connection) : connection_(connection) {}

    bool on_the_way() const { return !sent_.empty(); }

    // Sends the rows (at most kMostRows) as one batch on the made and idle
    // session; a row whose statement the server refuses to prepare is
    // answered at once in `answers`.
    void send(std::vector<Row> rows, std::vector<Answer>* answers);

    // Reads the answers of the batch on the way, waiting for them with
    // `wait`; true once the batch is over. Each row of an ended batch is in
    // `answers`, or in `skipped` when the server never ran it.
    bool read(bool wait, std::vector<Answer>* answers, std::vector<Row>* skipped);

private:
    static constexpr int kStatementsPerRow = 3;  // BEGIN, the row, COMMIT

    // One result of statement `statement_`; the first failure of a row stays.
    void note(PGresult* result);
    // Ends the batch: every row to `answers` or `skipped`, the session back
    // out of pipeline mode and out of any failed transaction.
    void end(std::vector<Answer>* answers, std::vector<Row>* skipped, const std::string& lost);

    Connection& connection_;
    std::vector<Row> sent_;
    std::vector<std::string> errors_;  // per row: the first failure
    std::vector<bool> committed_;      // per row
    std::vector<bool> aborted_;        // per row: skipped by the server
    std::vector<bool> unheld_;         // per row: its statement stored nothing
    std::size_t statement_ = 0;        // whose results are read now
    std::size_t statements_ = 0;       // sent in this batch
};

}  // namespace qinglan::postgres
