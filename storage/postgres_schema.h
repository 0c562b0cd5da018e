#pragma once

// The statements of the PostgreSQL store that name its own tables; every
// name of the collector's own begins with "MSys", and the catalog queries
// look at the session's current schema only.
//
// A keyword's table is one of the collector's: a table in that schema with
// the thirteen text columns of a keyword. The server holds other tables too
// (its catalogs, which every unqualified name meets first, views, other
// programs' tables): none of them is ever listed, read, counted or dropped.

#include <cstdint>
#include <string>
#include <string_view>

#include "storage/state_columns.h"

namespace qinglan::postgres {

// Waits for a lock held elsewhere last as long as the file's busy timeout.
// A commit does not wait for its flush to disk, as the file's WAL with
// synchronous=NORMAL does not: a crash of the server's machine may lose the
// last moments' commits, each whole with its member's mark (so a later run
// collects those members again), but a stopped or restarted server loses
// nothing, and eight collectors are not held up by one flush each per row.
inline constexpr const char* kSessionSettings =
    "SET lock_timeout = '10s'; SET synchronous_commit = off";

// The table columns in their stored order; 编号 comes first and stays empty.
inline constexpr const char* kCreateColumns =
    "(\"编号\" text, \"地址\" text, \"公司名称\" text, \"用户账号\" text, \"电话\" text, "
    "\"传真\" text, \"称呼\" text, \"移动电话\" text, \"职位\" text, \"联系人\" text, "
    "\"邮编\" text, \"部门\" text, \"网站\" text)";

inline constexpr int kStateTables = 5;

// True for a table `c` of pg_class with the columns of a keyword's table.
inline const std::string kKeywordColumns =
    "(SELECT count(*) FROM pg_attribute a WHERE a.attrelid = c.oid AND a.attnum > 0 "
    "AND NOT a.attisdropped AND a.atttypid = 'text'::regtype AND a.attname IN ('编号', '地址', "
    "'公司名称', '用户账号', '电话', '传真', '称呼', '移动电话', '职位', '联系人', '邮编', '部门', "
    "'网站')) = 13";

// The name of the table keyword $1 is stored in, if any: its numbered table,
// or the collector's table of its own name.
inline const std::string kFindKeywordTable =
    "SELECT name FROM (SELECT 0 AS rank, 'MSysKeyword' || number AS name "
    "FROM \"MSysKeywordTables\" WHERE keyword = $1::text UNION ALL "
    "SELECT 1, c.relname::text FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p') AND c.relname::text = $1::text "
    "AND left($1::text, 4) <> 'MSys' AND " +
    kKeywordColumns + ") found ORDER BY rank LIMIT 1";

// Whether a table, view or index of any schema (the catalogs' too) is named
// $1, or a type of the current schema, which a table's own type would meet:
// such a name is no keyword's table of its own.
inline constexpr const char* kNameTaken =
    "SELECT EXISTS (SELECT 1 FROM pg_class WHERE relname::text = $1::text) "
    "OR EXISTS (SELECT 1 FROM pg_type t JOIN pg_namespace n ON n.oid = t.typnamespace "
    "WHERE n.nspname = current_schema() AND t.typname::text = $1::text)";

// Held by whoever creates or drops a table, for the rest of its transaction:
// two collectors never make one keyword's table or mapping at once. (The
// two-number form keeps it apart from the claims' one-number keys.)
inline constexpr const char* kLockSchema = "SELECT pg_advisory_xact_lock(7, 1)";

inline constexpr const char* kCountStateTables =
    "SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p') AND c.relname IN "
    "('MSysCollections', 'MSysCollectionMembers', 'MSysKeywordTables', 'MSysCollectionSites', "
    "'MSysQueue')";

inline constexpr const char* kCountTables =
    "SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p')";

inline constexpr const char* kCreateStateTables =
    "CREATE TABLE IF NOT EXISTS \"MSysCollections\" "
    "(keyword text PRIMARY KEY, listed boolean NOT NULL, claim bigint NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS \"MSysCollectionMembers\" "
    "(keyword text NOT NULL, position integer NOT NULL, account bytea NOT NULL, "
    "stored boolean NOT NULL, PRIMARY KEY (keyword, position));"
    "CREATE TABLE IF NOT EXISTS \"MSysKeywordTables\" "
    "(number bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, keyword text NOT NULL UNIQUE);"
    // The site each keyword was collected from; none: the built-in one.
    "CREATE TABLE IF NOT EXISTS \"MSysCollectionSites\" (keyword text PRIMARY KEY, site text NOT "
    "NULL);"
    // The team's work queue: one row per keyword, see WorkQueue. `number`
    // is the order of adding; `tries` counts the tries begun.
    "CREATE TABLE IF NOT EXISTS \"MSysQueue\" (keyword text PRIMARY KEY, "
    "number bigint GENERATED ALWAYS AS IDENTITY, state text NOT NULL DEFAULT 'waiting', "
    "worker text NOT NULL DEFAULT '', lease_end timestamptz, allowed integer NOT NULL, "
    "tries integer NOT NULL DEFAULT 0, next_try timestamptz NOT NULL DEFAULT now(), "
    "reason text NOT NULL DEFAULT '', rows_stored bigint NOT NULL DEFAULT 0, "
    "members integer NOT NULL DEFAULT -1, profile text NOT NULL, profile_text text NOT NULL, "
    "added timestamptz NOT NULL DEFAULT now(), updated timestamptz NOT NULL DEFAULT now())";

// The advisory lock key of a keyword's claim: FNV-1a of its bytes, the same
// in every collector, on every machine.
inline std::string claim_key(std::string_view keyword) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : keyword) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return std::to_string(static_cast<std::int64_t>(hash));
}

// Columns the state got after its first version: the claims' numbers (see
// KeywordClaims), then those of state_columns.h. A database from before one
// of them lacks it.
inline constexpr int kLaterStateColumns = 1 + kAddedStateColumnCount;

// How many of those columns the state has: kLaterStateColumns when none is
// missing.
inline std::string count_later_state_columns() {
    return "SELECT count(*) FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid "
           "JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = current_schema() "
           "AND c.relname = 'MSysCollections' AND NOT a.attisdropped AND a.attname IN ('claim', " +
           added_state_column_names() + ")";
}

// Collectors of then go on using such a database: they never name the columns.
inline std::string add_later_state_columns() {
    std::string sql =
        "ALTER TABLE \"MSysCollections\" ADD COLUMN IF NOT EXISTS claim bigint NOT NULL DEFAULT 0";
    for (const StateColumn& column : kAddedStateColumns) {
        sql += ", ADD COLUMN IF NOT EXISTS " + std::string(column.name) + " " +
               std::string(column.definition);
    }
    return sql;
}

// What the state of the keyword in parameter `keyword` ("$1") holds of its
// claims: the last claim's number, or -1 when the keyword has no state.
inline std::string state_claim(const std::string& keyword) {
    return "coalesce((SELECT claim FROM \"MSysCollections\" WHERE keyword = " + keyword + "), -1)";
}

// The keyword tables in the order of their creation, each with the keyword
// it holds when it is a numbered one.
inline const std::string kListTables =
    "SELECT c.relname, m.keyword FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "LEFT JOIN \"MSysKeywordTables\" m ON c.relname = 'MSysKeyword' || m.number "
    "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p') AND " +
    kKeywordColumns + " ORDER BY c.oid";

}  // namespace qinglan::postgres
