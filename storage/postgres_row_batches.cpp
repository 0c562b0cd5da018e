#include "storage/postgres_row_batches.h"

#include <string_view>

#include "services/failure.h"

namespace qinglan::postgres {

void RowBatches::send(std::vector<Row> rows, std::vector<Answer>* answers) {
    PGconn* conn = connection_.raw();
    std::string begin, commit, reason;
    // Statements are prepared before the batch: preparing waits for its answer.
    if (!connection_.prepare("BEGIN", 0, &begin, &reason) ||
        !connection_.prepare("COMMIT", 0, &commit, &reason)) {
        for (Row& row : rows) {
            answers->push_back({std::move(row), false, reason});
        }
        return;
    }
    std::vector<std::string> names;
    for (Row& row : rows) {
        std::string name;
        if (connection_.prepare(row.sql, static_cast<int>(row.params.size()), &name, &reason)) {
            names.push_back(std::move(name));
            sent_.push_back(std::move(row));
        } else {
            answers->push_back({std::move(row), false, reason});
        }
    }
    if (sent_.empty()) {
        return;
    }
    if (PQenterPipelineMode(conn) != 1) {
        reason = one_line(PQerrorMessage(conn));
        for (Row& row : sent_) {
            answers->push_back({std::move(row), false, reason});
        }
        sent_.clear();
        return;
    }
    errors_.assign(sent_.size(), std::string());
    committed_.assign(sent_.size(), false);
    aborted_.assign(sent_.size(), false);
    unheld_.assign(sent_.size(), false);
    statement_ = 0;
    statements_ = 0;
    // A statement that cannot be sent means a lost session: reading finds
    // it so, and the rows not answered fail with its reason.
    for (std::size_t i = 0; i < sent_.size(); ++i) {
        if (!connection_.send_prepared(begin, {}) ||
            !connection_.send_prepared(names[i], sent_[i].params) ||
            !connection_.send_prepared(commit, {})) {
            break;
        }
        statements_ += kStatementsPerRow;
    }
    PQpipelineSync(conn);
}

void RowBatches::note(PGresult* result) {
    const std::size_t row = statement_ / kStatementsPerRow;
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_COMMAND_OK) {
        const std::size_t step = statement_ % kStatementsPerRow;
        if (step == kStatementsPerRow - 1) {
            committed_[row] = true;
        } else if (step == 1 && !sent_[row].unheld.empty() &&
                   std::string_view(PQcmdTuples(result)) == "0") {
            // Its COMMIT then ends a transaction that wrote nothing.
            unheld_[row] = true;
        }
    } else if (status == PGRES_PIPELINE_ABORTED) {
        aborted_[row] = true;
    } else if (errors_[row].empty()) {
        errors_[row] = one_line(PQresultErrorMessage(result));
    }
}

bool RowBatches::read(bool wait, std::vector<Answer>* answers, std::vector<Row>* skipped) {
    PGconn* conn = connection_.raw();
    for (;;) {
        if (PQstatus(conn) == CONNECTION_BAD || (!wait && PQconsumeInput(conn) == 0)) {
            end(answers, skipped, one_line(PQerrorMessage(conn)));
            return true;
        }
        if (!wait && PQisBusy(conn) == 1) {
            return false;
        }
        Result result(PQgetResult(conn));
        if (statement_ < statements_) {
            // Each statement's results end with a null one.
            if (result) {
                note(result.get());
            } else {
                ++statement_;
            }
            continue;
        }
        if (result && PQresultStatus(result.get()) == PGRES_PIPELINE_SYNC) {
            end(answers, skipped, std::string());
            return true;
        }
        if (!result) {
            // Nothing more will come, yet the batch's end has not.
            end(answers, skipped,
                PQstatus(conn) == CONNECTION_BAD ? one_line(PQerrorMessage(conn))
                                                 : "the server's answer ended early");
            return true;
        }
    }
}

void RowBatches::end(std::vector<Answer>* answers, std::vector<Row>* skipped,
                     const std::string& lost) {
    PGconn* conn = connection_.raw();
    const std::size_t first = answers->size();
    bool failed = false;
    for (std::size_t i = 0; i < sent_.size(); ++i) {
        if (unheld_[i]) {
            std::string reason = sent_[i].unheld;
            answers->push_back({std::move(sent_[i]), false, std::move(reason), true});
        } else if (committed_[i]) {
            answers->push_back({std::move(sent_[i]), true, std::string()});
        } else if (!errors_[i].empty()) {
            failed = true;
            answers->push_back({std::move(sent_[i]), false, errors_[i]});
        } else if (aborted_[i] && lost.empty()) {
            skipped->push_back(std::move(sent_[i]));
        } else {
            // Without an answer the row may or may not be stored: never sent
            // again, so never stored twice. Its mark tells a later run.
            answers->push_back(
                {std::move(sent_[i]), false, lost.empty() ? "the server did not answer" : lost});
        }
    }
    sent_.clear();
    if (PQstatus(conn) != CONNECTION_OK) {
        return;  // the session is made anew before the next statement
    }
    PQexitPipelineMode(conn);
    // A row's failure leaves its transaction open and failed.
    if (PQtransactionStatus(conn) == PQTRANS_INERROR) {
        PQclear(PQexec(conn, "ROLLBACK"));
    }
    if (failed) {
        // A statement whose table went away is prepared anew next time.
        for (std::size_t i = first; i < answers->size(); ++i) {
            if (!(*answers)[i].stored) {
                connection_.forget_prepared((*answers)[i].row.sql);
            }
        }
    }
}

}  // namespace qinglan::postgres
