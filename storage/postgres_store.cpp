#include "storage/postgres_store.h"

#include <cstdlib>

#include "services/failure.h"
#include "storage/postgres_schema.h"

namespace qinglan {

using namespace postgres;

std::unique_ptr<PostgresStore> PostgresStore::open(const std::string& url, std::string* error) {
    std::unique_ptr<PostgresStore> store(new PostgresStore(url));
    std::string reason;
    if (!store->create_schema(&reason)) {
        fail(error, reason);
        return nullptr;
    }
    return store;
}

PostgresStore::PostgresStore(std::string url)
    : url_(std::move(url)),
      writer_(url_,
              [this](Connection& connection, std::string* error) {
                  return connection.run(kSessionSettings, error) &&
                         retake_claims(connection, error);
              }),
      reader_(url_, [](Connection& connection, std::string* error) {
          return connection.run(kSessionSettings, error);
      }) {}

PostgresStore::~PostgresStore() {
    stop_sender();
    // The server drops a closed session's locks only once it has noticed
    // the close; said outright, the claims are free when this returns.
    const auto lock = lock_writer();
    if (!claim_numbers_.numbers().empty() && PQstatus(writer_.raw()) == CONNECTION_OK) {
        writer_.run("SELECT pg_advisory_unlock_all()", nullptr);
    }
}

std::string PostgresStore::location() const {
    return masked_url(url_);
}

void PostgresStore::interrupt() {
    interrupted_ = true;
    writer_.cancel();
    reader_.cancel();
}

bool PostgresStore::execute(const std::string& sql, std::string* error) {
    const auto lock = lock_writer();
    return writer_.run(sql, error);
}

// Several collectors may open a new database at the same moment: the tables
// are made under one lock, each only if missing. A database without any
// table is a new one and gets "123".
bool PostgresStore::create_schema(std::string* error) {
    std::lock_guard lock(write_mutex_);
    const std::string doing = "cannot prepare the tables in " + location() + ": ";
    std::string reason;
    if (!writer_.ensure(error)) {
        return false;
    }
    if (Result limit = writer_.exec(
            "SELECT current_setting('max_identifier_length'), current_schema()", {}, &reason)) {
        name_limit_ = static_cast<std::size_t>(std::atol(PQgetvalue(limit.get(), 0, 0)));
        if (PQgetisnull(limit.get(), 0, 1)) {
            return fail(error, doing + "no schema of the search_path exists to hold them");
        }
        schema_ = quote_name(PQgetvalue(limit.get(), 0, 1)) + ".";
    } else {
        return fail(error, doing + reason);
    }
    Result found = writer_.exec(
        "SELECT (" + std::string(kCountStateTables) + "), (" + count_later_state_columns() + ")",
        {}, &reason);
    if (!found) {
        return fail(error, doing + reason);
    }
    if (std::atoi(PQgetvalue(found.get(), 0, 0)) == kStateTables &&
        std::atoi(PQgetvalue(found.get(), 0, 1)) == kLaterStateColumns) {
        return true;
    }
    Transaction transaction(writer_);
    if (!transaction.begin(&reason) || !writer_.run(kLockSchema, &reason)) {
        return fail(error, doing + reason);
    }
    Result tables = writer_.exec(kCountTables, {}, &reason);
    if (!tables) {
        return fail(error, doing + reason);
    }
    const bool new_database = std::atoi(PQgetvalue(tables.get(), 0, 0)) == 0;
    if ((new_database &&
         !writer_.run("CREATE TABLE IF NOT EXISTS \"123\" " + std::string(kCreateColumns),
                      &reason)) ||
        !writer_.run(kCreateStateTables, &reason) ||
        !writer_.run(add_later_state_columns(), &reason) || !transaction.commit(&reason)) {
        return fail(error, doing + reason);
    }
    return true;
}

bool PostgresStore::must_map(std::string_view table) const {
    return table.empty() || table.size() > name_limit_ || collector_name(table) ||
           starts_ignoring_case(table, "pg_") || table.find('\0') != std::string_view::npos;
}

bool PostgresStore::find_table(Connection& connection, std::string_view table, std::string* name,
                               std::string* error) {
    Result found = connection.exec(kFindKeywordTable, {{std::string(table)}}, error);
    if (!found) {
        return false;
    }
    *name = PQntuples(found.get()) > 0 ? PQgetvalue(found.get(), 0, 0) : "";
    return true;
}

bool PostgresStore::table_name(Connection& connection, std::string_view table, std::string* quoted,
                               std::string* error) {
    {
        std::lock_guard lock(names_mutex_);
        const auto found = table_names_.find(std::string(table));
        if (found != table_names_.end()) {
            *quoted = found->second;
            return true;
        }
    }
    std::string name;
    if (!find_table(connection, table, &name, error)) {
        return false;
    }
    if (name.empty()) {
        return fail(error, "no table is stored for it");
    }
    *quoted = schema_ + quote_name(name);
    std::lock_guard lock(names_mutex_);
    table_names_[std::string(table)] = *quoted;
    return true;
}

void PostgresStore::forget_mapping(std::string_view table) {
    std::lock_guard lock(names_mutex_);
    table_names_.erase(std::string(table));
}

bool PostgresStore::create_table(std::string_view table, std::string_view site, bool* created,
                                 std::string* error) {
    const std::string keyword(table);
    *created = false;
    std::string name;
    if (!find_table(writer_, table, &name, error)) {
        return false;
    }
    if (!name.empty()) {
        return true;
    }
    if (!must_map(table)) {
        Result taken = writer_.exec(kNameTaken, {{keyword}}, error);
        if (!taken) {
            return false;
        }
        if (std::string_view(PQgetvalue(taken.get(), 0, 0)) != "t") {
            name = keyword;
        }
    }
    if (name.empty()) {
        Result number =
            writer_.exec("INSERT INTO \"MSysKeywordTables\" (keyword) VALUES ($1) RETURNING number",
                         {{keyword}}, error);
        if (!number) {
            return false;
        }
        name = mapped_table(PQgetvalue(number.get(), 0, 0));
    }
    // A name this collector knew for a keyword forgotten since is no more.
    forget_mapping(table);
    // The table and its state in one step, as in the file.
    *created =
        writer_.run("CREATE TABLE " + schema_ + quote_name(name) + " " + kCreateColumns, error) &&
        writer_.exec("DELETE FROM \"MSysCollectionMembers\" WHERE keyword = $1", {{keyword}},
                     error) &&
        writer_.exec(
            "INSERT INTO \"MSysCollections\" (keyword, listed, claim) VALUES ($1, false, $2) "
            "ON CONFLICT (keyword) DO UPDATE SET listed = false, claim = $2",
            {{keyword}, {std::to_string(claim_numbers_.number_for(table))}}, error) &&
        writer_.exec(
            "INSERT INTO \"MSysCollectionSites\" (keyword, site) VALUES ($1, $2) "
            "ON CONFLICT (keyword) DO UPDATE SET site = $2",
            {{keyword}, {std::string(site)}}, error);
    return *created;
}

bool PostgresStore::ensure_table(std::string_view table, std::string_view site,
                                 std::string* error) {
    const auto lock = lock_writer();
    std::string reason;
    Transaction transaction(writer_);
    bool created = false;
    if (!transaction.begin(&reason) || !writer_.run(kLockSchema, &reason) ||
        !create_table(table, site, &created, &reason) || !transaction.commit(&reason)) {
        return fail(error, "cannot create the table " + quote_name(table) + ": " + reason);
    }
    if (created) {
        claim_numbers_.state_written(table, true);
    }
    return true;
}

bool PostgresStore::read_table_names(std::vector<std::string>* names, std::string* error) {
    std::lock_guard lock(read_mutex_);
    std::string reason;
    Result tables = reader_.exec(kListTables, {}, &reason);
    if (!tables) {
        return fail(error, "cannot list the tables of " + location() + ": " + reason);
    }
    names->clear();
    for (int row = 0; row < PQntuples(tables.get()); ++row) {
        // A numbered keyword by its own name; the collector's own tables not at all.
        if (!PQgetisnull(tables.get(), row, 1)) {
            names->emplace_back(PQgetvalue(tables.get(), row, 1));
        } else if (!collector_name(PQgetvalue(tables.get(), row, 0))) {
            names->emplace_back(PQgetvalue(tables.get(), row, 0));
        }
    }
    return true;
}

bool PostgresStore::read_rows(std::string_view table,
                              const std::function<bool(ContactRecord&&)>& sink,
                              std::string* error) {
    std::lock_guard lock(read_mutex_);
    const std::string doing = "cannot read " + quote_name(table) + ": ";
    std::string quoted, reason;
    // The heap's order is not the storing order: an insert takes any page
    // with room for its row, an earlier one too. Every row is written by a
    // transaction of its own, or by a command of its own in a copied
    // keyword's one transaction, so those numbers give the order. (Raw
    // transaction numbers wrap once in four billion transactions: only a
    // keyword stored across that moment would come back out of order.)
    if (!table_name(reader_, table, &quoted, &reason) ||
        !reader_.send_single_rows(
            "SELECT * FROM " + quoted + " ORDER BY xmin::text::bigint, cmin::text::bigint, ctid",
            {}, &reason)) {
        return fail(error, doing + reason);
    }
    std::array<int, kRecordFields> source{};
    bool columns_known = false;
    bool wanted = true;
    Result row;
    Connection::Fetch fetched;
    while ((fetched = reader_.next_row(&row, &reason)) == Connection::Fetch::kRow) {
        if (!wanted) {
            continue;  // read away, so the session is free for the next statement
        }
        // Values are read by column name, whatever order the table has them in.
        if (!columns_known) {
            source.fill(-1);
            for (int c = 0; c < PQnfields(row.get()); ++c) {
                const std::string_view name = PQfname(row.get(), c);
                for (int f = 0; f < kRecordFields; ++f) {
                    if (kRecordColumnNames[static_cast<std::size_t>(f)] == name) {
                        source[static_cast<std::size_t>(f)] = c;
                    }
                }
            }
            columns_known = true;
        }
        ContactRecord record;
        for (int f = 0; f < kRecordFields; ++f) {
            const int c = source[static_cast<std::size_t>(f)];
            if (c >= 0 && !PQgetisnull(row.get(), 0, c)) {
                record[static_cast<std::size_t>(f)].assign(
                    PQgetvalue(row.get(), 0, c),
                    static_cast<std::size_t>(PQgetlength(row.get(), 0, c)));
            }
        }
        wanted = sink(std::move(record));
    }
    if (fetched == Connection::Fetch::kFailed) {
        forget_mapping(table);
        return fail(error, doing + reason);
    }
    return true;
}

bool PostgresStore::count_rows(std::string_view table, long long* count, std::string* error) {
    std::lock_guard lock(read_mutex_);
    std::string quoted, reason;
    Result counted;
    if (!table_name(reader_, table, &quoted, &reason) ||
        !(counted = reader_.exec("SELECT count(*) FROM " + quoted, {}, &reason))) {
        forget_mapping(table);
        return fail(error, "cannot count the rows of " + quote_name(table) + ": " + reason);
    }
    *count = std::atoll(PQgetvalue(counted.get(), 0, 0));
    return true;
}

}  // namespace qinglan
