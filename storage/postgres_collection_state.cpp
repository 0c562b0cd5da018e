// The PostgreSQL store's writes of rows together with the collection state,
// the reads and deletions of that state, the claims, and copied keywords.

#include <cstdlib>

#include "services/failure.h"
#include "storage/postgres_schema.h"
#include "storage/postgres_store.h"

namespace qinglan {

using namespace postgres;

namespace {

// The insert of one row, its values $1 to $12 in record order.
std::string insert_sql(const std::string& quoted) {
    std::string sql = "INSERT INTO " + quoted + " (";
    for (int i = 0; i < kRecordFields; ++i) {
        sql += (i == 0 ? "\"" : ",\"") + std::string(kRecordColumnNames[i]) + "\"";
    }
    return sql + ") VALUES ($1,$2,$3,$4,$5,$6,$7,$8,$9,$10,$11,$12)";
}

// The same insert as a query, to be given a condition.
std::string insert_select_sql(const std::string& quoted) {
    std::string sql = insert_sql(quoted);
    sql.resize(sql.find(" VALUES ("));
    sql += " SELECT ";
    for (int i = 1; i <= kRecordFields; ++i) {
        sql += (i == 1 ? "$" : ",$") + std::to_string(i) + "::text";
    }
    return sql;
}

}  // namespace

std::vector<Param> PostgresStore::record_values(const ContactRecord& record) {
    std::vector<Param> params;
    for (const std::string& value : record) {
        params.push_back({value});
    }
    return params;
}

namespace {

// An array literal of the accounts in hex: accounts are page bytes (GBK),
// and hex digits need no escaping inside the literal.
std::string hex_array(const std::vector<std::string>& members) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string array = "{";
    for (std::size_t i = 0; i < members.size(); ++i) {
        array += i == 0 ? "\"" : ",\"";
        for (const char c : members[i]) {
            array += kDigits[static_cast<unsigned char>(c) >> 4];
            array += kDigits[static_cast<unsigned char>(c) & 15];
        }
        array += '"';
    }
    return array + "}";
}

}  // namespace

bool PostgresStore::retake_claims(Connection& connection, std::string* error) {
    // A new session holds none of the claims the lost one held. A claim
    // taken again still stands only while the state holds its number.
    for (const auto& [keyword, number] : claim_numbers_.numbers()) {
        Result taken = connection.exec("SELECT pg_try_advisory_lock($1::bigint)",
                                       {{claim_key(keyword)}}, error);
        if (!taken) {
            return false;
        }
        if (std::string_view(PQgetvalue(taken.get(), 0, 0)) != "t") {
            claim_numbers_.lose(keyword);
        }
    }
    return true;
}

bool PostgresStore::claim(std::string_view table, std::string* error) {
    const auto lock = lock_writer();
    if (claim_numbers_.held(table)) {
        return fail(error, "it is being collected by another task of this collector");
    }
    const long long number = new_claim_number();
    std::string reason;
    // The lock and the number in one statement, so in one session: a
    // session lost in between cannot leave the number without the lock.
    Result taken = writer_.exec(
        "WITH taken AS (SELECT pg_try_advisory_lock($1::bigint) AS taken), "
        "marked AS (UPDATE \"MSysCollections\" SET claim = $3 WHERE keyword = $2 "
        "AND (SELECT taken FROM taken) RETURNING 1) "
        "SELECT (SELECT taken FROM taken), (SELECT count(*) FROM marked)",
        {{claim_key(table)}, {std::string(table)}, {std::to_string(number)}}, &reason);
    if (!taken) {
        return fail(error, "cannot claim it on " + location() + ": " + reason);
    }
    if (std::string_view(PQgetvalue(taken.get(), 0, 0)) != "t") {
        return fail(error, "it is being collected by another collector");
    }
    claim_numbers_.claimed(table, number, std::string_view(PQgetvalue(taken.get(), 0, 1)) != "0");
    return true;
}

void PostgresStore::release(std::string_view table) {
    const auto lock = lock_writer();
    if (!claim_numbers_.held(table)) {
        return;
    }
    claim_numbers_.released(table);
    // A session that took the claim again after it was lost may or may not
    // hold its lock; unlocking one not held only draws a warning.
    if (PQstatus(writer_.raw()) == CONNECTION_OK) {
        writer_.exec("SELECT pg_advisory_unlock($1::bigint)", {{claim_key(table)}}, nullptr);
    }
}

bool PostgresStore::claim_lost(std::string_view table) {
    std::lock_guard lock(write_mutex_);
    return claim_numbers_.lost(table);
}

bool PostgresStore::row_statement(std::string_view table, int member, std::vector<Param>* params,
                                  std::string* sql, std::string* error, std::string* unheld) {
    std::string quoted;
    if (!table_name(writer_, table, &quoted, error)) {
        return false;
    }
    if (claim_numbers_.lost(table)) {
        return fail(error,
                    "the connection to the server was lost, and another collector has taken the "
                    "keyword since");
    }
    *sql = insert_sql(quoted);
    if (claim_numbers_.held(table)) {
        // Stored only while the state holds the claim's number: otherwise
        // the statement stores nothing, which its caller takes as refused.
        *unheld = kClaimTaken;
        params->push_back({std::string(table)});
        params->push_back({std::to_string(claim_numbers_.expected(table))});
        std::string guarded =
            "WITH held AS (SELECT WHERE " + state_claim("$13") + " = $14::bigint)";
        if (member >= 0) {
            guarded +=
                ", marked AS (UPDATE \"MSysCollectionMembers\" SET stored = true "
                "WHERE keyword = $13 AND position = $15::integer AND EXISTS (SELECT FROM "
                "held))";
            params->push_back({std::to_string(member)});
        }
        *sql = guarded + " " + insert_select_sql(quoted) + " WHERE EXISTS (SELECT FROM held)";
        return true;
    }
    if (member >= 0) {
        // One statement, so the row and its member's mark are one transaction.
        *sql = "WITH stored_row AS (" + *sql +
               ") UPDATE \"MSysCollectionMembers\" SET stored = true "
               "WHERE keyword = $13 AND position = $14";
        params->push_back({std::string(table)});
        params->push_back({std::to_string(member)});
    }
    return true;
}

bool PostgresStore::insert_record(std::string_view table, const ContactRecord& record, int member,
                                  std::string* error) {
    const auto lock = lock_writer();
    const std::string doing = "cannot store a row into " + quote_name(table) + ": ";
    std::string sql, reason, unheld;
    std::vector<Param> params = record_values(record);
    if (!writer_.ensure(&reason) ||
        !row_statement(table, member, &params, &sql, &reason, &unheld)) {
        return fail(error, doing + reason);
    }
    Result inserted = writer_.exec_prepared(sql, params, &reason);
    if (!inserted) {
        forget_mapping(table);
        return fail(error, doing + reason);
    }
    if (!unheld.empty() && std::string_view(PQcmdTuples(inserted.get())) == "0") {
        claim_numbers_.lose(table);
        return fail(error, doing + unheld);
    }
    return true;
}

bool PostgresStore::save_members(std::string_view table, int first,
                                 const std::vector<std::string>& members,
                                 const std::vector<bool>& stored, std::string* error) {
    std::string flags = "{";
    for (std::size_t i = 0; i < members.size(); ++i) {
        flags += i == 0 ? "" : ",";
        flags += i < stored.size() && stored[i] ? "t" : "f";
    }
    flags += "}";
    const std::string keyword(table);
    const std::string from = std::to_string(first);
    return writer_.exec(
               "DELETE FROM \"MSysCollectionMembers\" WHERE keyword = $1 AND position >= $2",
               {{keyword}, {from}}, error) &&
           writer_.exec(
               "INSERT INTO \"MSysCollectionMembers\" (keyword, position, account, stored) "
               "SELECT $1, m.position - 1 + $4::integer, decode(m.account, 'hex'), m.stored "
               "FROM unnest($2::text[], $3::boolean[]) WITH ORDINALITY "
               "AS m(account, stored, position)",
               {{keyword}, {hex_array(members)}, {flags}, {from}}, error);
}

bool PostgresStore::save_members_from(std::string_view table, int first,
                                      const std::vector<std::string>& members, int next_page,
                                      bool replace_rows, std::string* error) {
    const auto lock = lock_writer();
    const std::string doing = "cannot save the member list of " + quote_name(table) + ": ";
    std::string quoted, reason;
    Transaction transaction(writer_);
    // TRUNCATE, not DELETE: the table starts empty, so its rows keep coming
    // back in the order they are stored.
    const std::string number = std::to_string(claim_numbers_.number_for(table));
    const std::string page = std::to_string(next_page);
    // A new list leaves the claim's number in the state; a later page's
    // accounts only move the reading on.
    const auto save_state = [&] {
        return first == 0 ? static_cast<bool>(writer_.exec(
                                "INSERT INTO \"MSysCollections\" (keyword, listed, claim, "
                                "next_page) VALUES ($1, true, $2, $3) ON CONFLICT (keyword) "
                                "DO UPDATE SET listed = true, claim = $2, next_page = $3",
                                {{std::string(table)}, {number}, {page}}, &reason))
                          : static_cast<bool>(writer_.exec(
                                "UPDATE \"MSysCollections\" SET next_page = $2 WHERE keyword = $1",
                                {{std::string(table)}, {page}}, &reason));
    };
    const bool saved = transaction.begin(&reason) && claim_stands(table, &reason) &&
                       (!replace_rows || (table_name(writer_, table, &quoted, &reason) &&
                                          writer_.run("TRUNCATE " + quoted, &reason))) &&
                       save_state() && save_members(table, first, members, {}, &reason) &&
                       transaction.commit(&reason);
    if (saved && first == 0) {
        claim_numbers_.state_written(table, true);
    }
    return saved || fail(error, doing + reason);
}

bool PostgresStore::claim_stands(std::string_view table, std::string* error) {
    if (!claim_numbers_.held(table)) {
        return true;
    }
    Result in_state = writer_.exec("SELECT " + state_claim("$1"), {{std::string(table)}}, error);
    return in_state &&
           claim_numbers_.stands(table, std::atoll(PQgetvalue(in_state.get(), 0, 0)), error);
}

bool PostgresStore::read_state(std::string_view table, CollectionState* state, std::string* error) {
    std::lock_guard lock(read_mutex_);
    *state = CollectionState();
    const std::string doing = "cannot read the collection state of " + quote_name(table) + ": ";
    const std::string keyword(table);
    std::string reason;
    // One snapshot, so the flag and the list agree with each other.
    Transaction transaction(reader_);
    if (!transaction.begin(&reason, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")) {
        return fail(error, doing + reason);
    }
    Result listed =
        reader_.exec("SELECT listed, next_page FROM \"MSysCollections\" WHERE keyword = $1",
                     {{keyword}}, &reason);
    if (!listed) {
        return fail(error, doing + reason);
    }
    if (PQntuples(listed.get()) == 0) {
        return true;  // untracked
    }
    state->tracked = true;
    state->listed = std::string_view(PQgetvalue(listed.get(), 0, 0)) == "t";
    state->next_page = std::atoi(PQgetvalue(listed.get(), 0, 1));
    Result site = reader_.exec("SELECT site FROM \"MSysCollectionSites\" WHERE keyword = $1",
                               {{keyword}}, &reason);
    if (!site) {
        return fail(error, doing + reason);
    }
    if (PQntuples(site.get()) > 0) {
        state->site = PQgetvalue(site.get(), 0, 0);
    }
    if (!state->listed) {
        return true;
    }
    Result members = reader_.exec(
        "SELECT account, stored FROM \"MSysCollectionMembers\" WHERE keyword = $1 "
        "ORDER BY position",
        {{keyword}}, &reason);
    if (!members) {
        return fail(error, doing + reason);
    }
    for (int row = 0; row < PQntuples(members.get()); ++row) {
        std::size_t length = 0;
        unsigned char* account = PQunescapeBytea(
            reinterpret_cast<const unsigned char*>(PQgetvalue(members.get(), row, 0)), &length);
        if (account == nullptr) {
            return fail(error, doing + "out of memory");
        }
        state->members.emplace_back(reinterpret_cast<const char*>(account), length);
        PQfreemem(account);
        state->stored.push_back(std::string_view(PQgetvalue(members.get(), row, 1)) == "t");
    }
    return true;
}

bool PostgresStore::forget(const std::vector<std::string>& tables, std::string* error) {
    const auto lock = lock_writer();
    std::string reason;
    Transaction transaction(writer_);
    bool done = transaction.begin(&reason) && writer_.run(kLockSchema, &reason);
    for (const std::string& table : tables) {
        if (!done) {
            break;
        }
        // Only the keyword's own table: never one of the server's or another program's.
        std::string name;
        done = done && find_table(writer_, table, &name, &reason) &&
               (name.empty() || writer_.run("DROP TABLE " + schema_ + quote_name(name), &reason)) &&
               writer_.exec("DELETE FROM \"MSysKeywordTables\" WHERE keyword = $1", {{table}},
                            &reason) &&
               writer_.exec("DELETE FROM \"MSysCollections\" WHERE keyword = $1", {{table}},
                            &reason) &&
               writer_.exec("DELETE FROM \"MSysCollectionMembers\" WHERE keyword = $1", {{table}},
                            &reason) &&
               writer_.exec("DELETE FROM \"MSysCollectionSites\" WHERE keyword = $1", {{table}},
                            &reason);
    }
    done = done && transaction.commit(&reason);
    for (const std::string& table : tables) {
        forget_mapping(table);
        if (done) {
            claim_numbers_.state_written(table, false);
        }
    }
    return done || fail(error, "cannot delete the keywords: " + reason);
}

bool PostgresStore::import_table(std::string_view table, const std::vector<ContactRecord>& rows,
                                 const CollectionState& state, std::string* error) {
    const auto lock = lock_writer();
    const std::string doing = "cannot copy into " + quote_name(table) + ": ";
    const std::string keyword(table);
    std::string quoted, reason;
    Transaction transaction(writer_);
    bool created = false;
    if (!transaction.begin(&reason) || !writer_.run(kLockSchema, &reason) ||
        !create_table(table, state.site, &created, &reason)) {
        return fail(error, doing + reason);
    }
    if (!created) {
        return fail(error, doing + "the table exists");
    }
    if (!table_name(writer_, table, &quoted, &reason)) {
        forget_mapping(table);
        return fail(error, doing + reason);
    }
    const std::string insert = insert_sql(quoted);
    for (const ContactRecord& record : rows) {
        if (!writer_.exec(insert, record_values(record), &reason)) {
            forget_mapping(table);
            return fail(error, doing + reason);
        }
    }
    const bool copied =
        state.tracked
            ? writer_.exec(
                  "UPDATE \"MSysCollections\" SET listed = $2, next_page = $3 WHERE keyword = $1",
                  {{keyword}, {state.listed ? "true" : "false"}, {std::to_string(state.next_page)}},
                  &reason) &&
                  save_members(table, 0, state.members, state.stored, &reason)
            : static_cast<bool>(writer_.exec("DELETE FROM \"MSysCollections\" WHERE keyword = $1",
                                             {{keyword}}, &reason));
    if (!copied || !transaction.commit(&reason)) {
        forget_mapping(table);
        return fail(error, doing + reason);
    }
    claim_numbers_.state_written(table, state.tracked);
    return true;
}

}  // namespace qinglan
