#include "storage/postgres_queue.h"

#include <cstdlib>
#include <iterator>
#include <unordered_set>

#include "services/failure.h"
#include "storage/postgres_schema.h"

namespace qinglan {

using namespace postgres;

namespace {

constexpr const char* kEntryColumns =
    "keyword, state, worker, rows_stored, members, tries, allowed, reason, profile, "
    "profile_text, to_char(added AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), "
    "to_char(updated AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')";

QueueEntry entry_of(const PGresult* result, int row) {
    const auto text = [&](int column) { return std::string(PQgetvalue(result, row, column)); };
    QueueEntry entry;
    entry.keyword = text(0);
    entry.state = text(1);
    entry.worker = text(2);
    entry.rows = std::atoll(PQgetvalue(result, row, 3));
    entry.members = std::atoi(PQgetvalue(result, row, 4));
    entry.tries = std::atoi(PQgetvalue(result, row, 5));
    entry.allowed = std::atoi(PQgetvalue(result, row, 6));
    entry.reason = text(7);
    entry.profile = text(8);
    entry.profile_text = text(9);
    entry.added = text(10);
    entry.updated = text(11);
    return entry;
}

// A text array literal: every element quoted, its quotes and backslashes escaped.
std::string text_array(const std::vector<std::string>& values) {
    std::string array = "{";
    for (std::size_t i = 0; i < values.size(); ++i) {
        array += i == 0 ? "\"" : ",\"";
        for (const char c : values[i]) {
            if (c == '"' || c == '\\') {
                array += '\\';
            }
            array += c;
        }
        array += '"';
    }
    return array + "}";
}

std::vector<std::string> first_column(const PGresult* result) {
    std::vector<std::string> values;
    for (int row = 0; row < PQntuples(result); ++row) {
        values.emplace_back(PQgetvalue(result, row, 0));
    }
    return values;
}

}  // namespace

WorkQueue::WorkQueue(const std::string& url)
    : connection_(url, [](Connection& connection, std::string* error) {
          return connection.run(kSessionSettings, error);
      }) {}

bool WorkQueue::add(const std::vector<std::string>& keywords, int tries, const std::string& profile,
                    const std::string& profile_text, std::vector<bool>* added, std::string* error) {
    // One statement for the whole list, numbered in its order: a long list
    // is one round trip, and a failure adds none of it.
    Result inserted = connection_.exec(
        "INSERT INTO \"MSysQueue\" (keyword, allowed, profile, profile_text) "
        "SELECT keyword, $2::integer, $3, $4 FROM unnest($1::text[]) WITH ORDINALITY "
        "AS given (keyword, place) ORDER BY place ON CONFLICT (keyword) DO NOTHING "
        "RETURNING keyword",
        {{text_array(keywords)}, {std::to_string(tries)}, {profile}, {profile_text}}, error);
    if (!inserted) {
        return false;
    }
    std::vector<std::string> returned = first_column(inserted.get());
    std::unordered_set<std::string> fresh(std::make_move_iterator(returned.begin()),
                                          std::make_move_iterator(returned.end()));
    added->assign(keywords.size(), false);
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        // A keyword given twice is added by its first place only.
        (*added)[k] = fresh.erase(keywords[k]) == 1;
    }
    return true;
}

bool WorkQueue::list(std::vector<QueueEntry>* entries, std::string* error) {
    Result listed = connection_.exec(
        "SELECT " + std::string(kEntryColumns) + " FROM \"MSysQueue\" ORDER BY number", {}, error);
    if (!listed) {
        return false;
    }
    entries->clear();
    for (int row = 0; row < PQntuples(listed.get()); ++row) {
        entries->push_back(entry_of(listed.get(), row));
    }
    return true;
}

bool WorkQueue::retry(const std::vector<std::string>& keywords, bool failed_only,
                      std::vector<std::string>* changed, std::string* error) {
    Result retried = connection_.exec(
        "UPDATE \"MSysQueue\" SET state = 'waiting', tries = 0, next_try = now(), reason = '', "
        "worker = '', lease_end = NULL, updated = now() WHERE state <> 'running' AND "
        "(CASE WHEN $2::boolean THEN state = 'failed' ELSE keyword = ANY ($1::text[]) END) "
        "RETURNING keyword",
        {{text_array(keywords)}, {failed_only ? "true" : "false"}}, error);
    if (!retried) {
        return false;
    }
    *changed = first_column(retried.get());
    return true;
}

bool WorkQueue::remove(const std::vector<std::string>& keywords, bool done_only,
                       std::vector<std::string>* removed, std::vector<std::string>* running,
                       std::string* error) {
    const std::vector<Param> params = {{text_array(keywords)}, {done_only ? "true" : "false"}};
    const std::string chosen =
        "(CASE WHEN $2::boolean THEN state = 'done' ELSE keyword = ANY ($1::text[]) END)";
    Transaction transaction(connection_);
    Result deleted, held;
    if (!transaction.begin(error) ||
        !(deleted = connection_.exec("DELETE FROM \"MSysQueue\" WHERE state <> 'running' AND " +
                                         chosen + " RETURNING keyword",
                                     params, error)) ||
        !(held = connection_.exec(
              "SELECT keyword FROM \"MSysQueue\" WHERE state = 'running' AND " + chosen, params,
              error)) ||
        !transaction.commit(error)) {
        return false;
    }
    *removed = first_column(deleted.get());
    *running = first_column(held.get());
    return true;
}

bool WorkQueue::take(const std::string& worker, int lease_seconds, QueueEntry* entry,
                     std::string* error) {
    *entry = QueueEntry();
    // A keyword whose worker went silent on its last try is not tried again.
    if (!connection_.exec(
            "UPDATE \"MSysQueue\" SET state = 'failed', worker = '', lease_end = NULL, "
            "updated = now(), reason = 'its worker (' || worker || ') stopped answering on its "
            "last try' WHERE state = 'running' AND lease_end < now() AND tries >= allowed",
            {}, error)) {
        return false;
    }
    // A worker's own keywords are never taken over by itself: it renews them.
    Result taken = connection_.exec(
        "WITH picked AS (SELECT keyword AS chosen, worker AS previous FROM \"MSysQueue\" WHERE "
        "(state = "
        "'waiting' AND "
        "next_try <= now()) OR (state = 'running' AND lease_end < now() AND worker <> $1) "
        "ORDER BY number LIMIT 1 FOR UPDATE SKIP LOCKED) "
        "UPDATE \"MSysQueue\" q SET state = 'running', worker = $1, tries = q.tries + 1, "
        "lease_end = now() + make_interval(secs => $2::integer), updated = now() "
        "FROM picked WHERE q.keyword = picked.chosen RETURNING " +
            std::string(kEntryColumns) + ", picked.previous",
        {{worker}, {std::to_string(lease_seconds)}}, error);
    if (!taken) {
        return false;
    }
    if (PQntuples(taken.get()) > 0) {
        *entry = entry_of(taken.get(), 0);
        entry->previous_worker = PQgetvalue(taken.get(), 0, 12);
    }
    return true;
}

bool WorkQueue::free_claim(const std::string& keyword, std::string* error) {
    // A one-number advisory key is kept as two halves in pg_locks; the
    // wait (up to 10 s) lets each ended session drop its locks first.
    return static_cast<bool>(connection_.exec(
        "SELECT pg_terminate_backend(l.pid, 10000) FROM pg_locks l WHERE l.locktype = "
        "'advisory' AND l.objsubid = 1 AND l.granted AND l.pid <> pg_backend_pid() AND "
        "l.database = (SELECT oid FROM pg_database WHERE datname = current_database()) AND "
        "((l.classid::bigint << 32) | l.objid::bigint) = $1::bigint",
        {{claim_key(keyword)}}, error));
}

bool WorkQueue::renew(const std::string& worker, const std::string& keyword, int lease_seconds,
                      bool* held, std::string* error) {
    Result renewed = connection_.exec(
        "UPDATE \"MSysQueue\" SET lease_end = now() + make_interval(secs => $3::integer) "
        "WHERE keyword = $1 AND worker = $2 AND state = 'running'",
        {{keyword}, {worker}, {std::to_string(lease_seconds)}}, error);
    if (!renewed) {
        return false;
    }
    *held = std::string_view(PQcmdTuples(renewed.get())) == "1";
    return true;
}

bool WorkQueue::finish(const std::string& worker, const std::string& keyword,
                       const TryResult& result, std::string* state, std::string* error) {
    // The pause before the next try doubles with each try, up to a minute.
    Result finished = connection_.exec(
        "UPDATE \"MSysQueue\" SET state = CASE WHEN $3::boolean THEN 'done' WHEN tries >= "
        "allowed THEN 'failed' ELSE 'waiting' END, next_try = now() + make_interval(secs => "
        "least(60, power(2, tries))), reason = $4, rows_stored = $5::bigint, "
        "members = $6::integer, worker = '', lease_end = NULL, updated = now() "
        "WHERE keyword = $1 AND worker = $2 AND state = 'running' RETURNING state",
        {{keyword},
         {worker},
         {result.complete ? "true" : "false"},
         {result.complete ? std::string() : result.reason},
         {std::to_string(result.rows)},
         {std::to_string(result.members)}},
        error);
    if (!finished) {
        return false;
    }
    *state = PQntuples(finished.get()) > 0 ? PQgetvalue(finished.get(), 0, 0) : "";
    return true;
}

bool WorkQueue::give_back(const std::string& worker, const std::string& keyword,
                          std::string* error) {
    return static_cast<bool>(connection_.exec(
        "UPDATE \"MSysQueue\" SET state = 'waiting', tries = greatest(tries - 1, 0), "
        "worker = '', lease_end = NULL, next_try = now(), updated = now() "
        "WHERE keyword = $1 AND worker = $2 AND state = 'running'",
        {{keyword}, {worker}}, error));
}

bool WorkQueue::busy(bool* busy, std::string* error) {
    Result found = connection_.exec(
        "SELECT EXISTS (SELECT FROM \"MSysQueue\" WHERE state IN ('waiting', 'running'))", {},
        error);
    if (!found) {
        return false;
    }
    *busy = std::string_view(PQgetvalue(found.get(), 0, 0)) == "t";
    return true;
}

}  // namespace qinglan
