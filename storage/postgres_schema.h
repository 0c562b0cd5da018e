#pragma once

// The statements of the PostgreSQL store that name its own tables; every
// name of the collector's own begins with "MSys", and the catalog queries
// look at the session's current schema only.

#include <string>

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

inline constexpr const char* kStateTableNames[] = {"MSysCollections", "MSysCollectionMembers",
                                                   "MSysKeywordTables"};
inline constexpr int kStateTables = 3;

// The table of a keyword PostgreSQL cannot take as a name: this and its number.
inline constexpr const char* kMappedPrefix = "MSysKeyword";

// Held by whoever creates or drops a table, for the rest of its transaction:
// two collectors never make one keyword's table or mapping at once. (The
// two-number form keeps it apart from the claims' one-number keys.)
inline constexpr const char* kLockSchema = "SELECT pg_advisory_xact_lock(7, 1)";

inline constexpr const char* kCountStateTables =
    "SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p') AND c.relname IN "
    "('MSysCollections', 'MSysCollectionMembers', 'MSysKeywordTables')";

inline constexpr const char* kCountTables =
    "SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p')";

inline constexpr const char* kFindTable =
    "SELECT 1 FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p') AND c.relname = $1";

inline constexpr const char* kCreateStateTables =
    "CREATE TABLE IF NOT EXISTS \"MSysCollections\" "
    "(keyword text PRIMARY KEY, listed boolean NOT NULL, claim bigint NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS \"MSysCollectionMembers\" "
    "(keyword text NOT NULL, position integer NOT NULL, account bytea NOT NULL, "
    "stored boolean NOT NULL, PRIMARY KEY (keyword, position));"
    "CREATE TABLE IF NOT EXISTS \"MSysKeywordTables\" "
    "(number bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, keyword text NOT NULL UNIQUE)";

// 1 when the state has the column of the claims' numbers (see KeywordClaims),
// 0 in a database from before claims left numbers there.
inline constexpr const char* kCountClaimColumn =
    "SELECT count(*) FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid "
    "JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = current_schema() "
    "AND c.relname = 'MSysCollections' AND a.attname = 'claim' AND NOT a.attisdropped";

// Collectors of then go on using such a database: they never name the column.
inline constexpr const char* kAddClaimColumn =
    "ALTER TABLE \"MSysCollections\" ADD COLUMN IF NOT EXISTS claim bigint NOT NULL DEFAULT 0";

// What the state of the keyword in parameter `keyword` ("$1") holds of its
// claims: the last claim's number, or -1 when the keyword has no state.
inline std::string state_claim(const std::string& keyword) {
    return "coalesce((SELECT claim FROM \"MSysCollections\" WHERE keyword = " + keyword + "), -1)";
}

// The tables in the order of their creation, each with the keyword it holds
// when it is a mapped keyword's.
inline constexpr const char* kListTables =
    "SELECT c.relname, m.keyword FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "LEFT JOIN \"MSysKeywordTables\" m ON c.relname = 'MSysKeyword' || m.number "
    "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p') ORDER BY c.oid";

}  // namespace qinglan::postgres
