// The PostgreSQL store's queued rows: sent in batches while the collector
// goes on, answered per table.

#include "services/failure.h"
#include "storage/postgres_store.h"

namespace qinglan {

using postgres::RowBatches;

void PostgresStore::queue_record(std::string_view table, const ContactRecord& record, int member,
                                 std::vector<QueuedRow>* settled) {
    std::lock_guard lock(write_mutex_);
    if (!sender_.joinable()) {
        sender_ = std::thread([this] { send_late_rows(); });
    }
    wait_in_line({std::string(table), member, std::string(), record_values(record), {}}, false);
    pump(false);
    take_answers(table, settled);
}

void PostgresStore::wait_in_line(RowBatches::Row row, bool first) {
    if (waiting_.empty()) {
        first_waiting_ = std::chrono::steady_clock::now();
        sender_wake_.notify_one();
    }
    if (first) {
        waiting_.push_front(std::move(row));
    } else {
        waiting_.push_back(std::move(row));
    }
}

// Rows wait for company only so long: a collector that hands over no more
// rows for a while (slow pages, the last members) still has them stored.
void PostgresStore::send_late_rows() {
    std::unique_lock lock(write_mutex_);
    while (!closing_) {
        if (waiting_.empty()) {
            sender_wake_.wait(lock);
        } else if (std::chrono::steady_clock::now() < first_waiting_ + kLongestWait) {
            sender_wake_.wait_until(lock, first_waiting_ + kLongestWait);
        } else {
            pump(true);
        }
    }
}

void PostgresStore::stop_sender() {
    {
        std::lock_guard lock(write_mutex_);
        closing_ = true;
    }
    sender_wake_.notify_all();
    if (sender_.joinable()) {
        sender_.join();
    }
}

void PostgresStore::settle_rows(std::string_view table, std::vector<QueuedRow>* settled) {
    const auto lock = lock_writer();
    take_answers(table, settled);
}

void PostgresStore::take_answers(std::string_view table, std::vector<QueuedRow>* settled) {
    const auto found = answers_.find(std::string(table));
    if (found == answers_.end()) {
        return;
    }
    for (QueuedRow& row : found->second) {
        settled->push_back(std::move(row));
    }
    answers_.erase(found);
}

void PostgresStore::answer(RowBatches::Row row, bool stored, const std::string& reason,
                           bool unheld) {
    QueuedRow answered;
    answered.member = row.member;
    answered.stored = stored;
    if (!stored) {
        answered.error = "cannot store a row into " + quote_name(row.table) + ": " + reason;
        forget_mapping(row.table);
        if (unheld) {
            claim_numbers_.lose(row.table);
        }
        answered.claim_lost = claim_numbers_.lost(row.table);
    }
    answers_[row.table].push_back(std::move(answered));
}

void PostgresStore::pump(bool wait) {
    if (batches_.on_the_way()) {
        std::vector<RowBatches::Answer> answers;
        std::vector<RowBatches::Row> skipped;
        if (!batches_.read(wait || waiting_.size() >= RowBatches::kMostRows, &answers, &skipped)) {
            return;
        }
        for (RowBatches::Answer& answered : answers) {
            answer(std::move(answered.row), answered.stored, answered.error, answered.unheld);
        }
        // Skipped behind a failed row: first in line again, in their order.
        // A stopping collector does not try again, as it would not wait.
        for (auto row = skipped.rbegin(); row != skipped.rend(); ++row) {
            if (interrupted_.load()) {
                answer(std::move(*row), false, "the collector is stopping");
            } else {
                wait_in_line(std::move(*row), true);
            }
        }
    }
    if (!batches_.on_the_way() && !waiting_.empty() &&
        (wait || waiting_.size() >= kFullBatch ||
         std::chrono::steady_clock::now() - first_waiting_ >= kLongestWait)) {
        send_waiting();
    }
}

void PostgresStore::send_waiting() {
    std::string reason;
    if (!writer_.ensure(&reason)) {
        while (!waiting_.empty()) {
            answer(std::move(waiting_.front()), false, reason);
            waiting_.pop_front();
        }
        return;
    }
    std::vector<RowBatches::Row> batch;
    while (!waiting_.empty() && batch.size() < RowBatches::kMostRows) {
        RowBatches::Row row = std::move(waiting_.front());
        waiting_.pop_front();
        // A row skipped once already has its statement.
        if (row.sql.empty() &&
            !row_statement(row.table, row.member, &row.params, &row.sql, &reason, &row.unheld)) {
            answer(std::move(row), false, reason);
            continue;
        }
        batch.push_back(std::move(row));
    }
    std::vector<RowBatches::Answer> refused;
    batches_.send(std::move(batch), &refused);
    for (RowBatches::Answer& answered : refused) {
        answer(std::move(answered.row), false, answered.error);
    }
}

std::unique_lock<std::mutex> PostgresStore::lock_writer() {
    std::unique_lock lock(write_mutex_);
    drain_rows();
    return lock;
}

void PostgresStore::drain_rows() {
    while (batches_.on_the_way() || !waiting_.empty()) {
        pump(true);
    }
}

}  // namespace qinglan
