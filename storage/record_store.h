#pragma once

// Where collected records are kept: one table per keyword, named exactly by
// the keyword (or numbered where the database cannot take the keyword as a
// name of its own; see sql_name.h), holding one row per collected member, and beside the tables
// the state of each keyword's collection, so that an interrupted one can be
// resumed. The engine only talks to this interface, so another database can
// stand behind it.
//
// Every operation may run on any thread. Failures come back as false with a
// reason in `error` (when given); nothing throws.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "services/contact_record.h"
#include "storage/collection_state.h"

namespace qinglan {

// What became of a row handed to queue_record.
struct QueuedRow {
    int member = -1;  // as given
    bool stored = false;
    std::string error;  // why not, when not stored
    // Refused because another collector has claimed the keyword since this
    // one did: no later row of it will be stored either.
    bool claim_lost = false;
};

class RecordStore {
public:
    virtual ~RecordStore() = default;

    // Where the records are, for messages: the file, or the server's URL
    // with its password masked.
    virtual std::string location() const = 0;

    // Creates the keyword's table unless a table of that name exists; a
    // table it creates gets a state with no member list yet, and `site` as
    // the name of the site it is collected from, in the same transaction, so
    // that a collection cut short at once is still resumed.
    virtual bool ensure_table(std::string_view table, std::string_view site,
                              std::string* error) = 0;
    bool ensure_table(std::string_view table, std::string* error) {
        return ensure_table(table, kBuiltInSiteName, error);
    }

    // Saves the member list as far as the keyword's result pages are read,
    // in one transaction. With `first` 0 the list is `members`, and with
    // `replace_rows` the rows stored so far are deleted (a collection started
    // over). With `first` above 0, `members` follow the first `first` members
    // (a later result page's new accounts), none of them stored, and the
    // members before them keep their marks. `next_page` is the result page to
    // read next, 0 once the reading has ended.
    virtual bool save_members_from(std::string_view table, int first,
                                   const std::vector<std::string>& members, int next_page,
                                   bool replace_rows, std::string* error) = 0;

    // Saves the whole member list, read from one result page.
    bool save_member_list(std::string_view table, const std::vector<std::string>& members,
                          bool replace_rows, std::string* error) {
        return save_members_from(table, 0, members, 0, replace_rows, error);
    }

    // Stores one record as one row, durable once this returns true. With
    // `member` (0-based in the member list, -1 for none) that member counts
    // as stored, in the same transaction: a row is never stored without it,
    // nor the other way round.
    virtual bool insert_record(std::string_view table, const ContactRecord& record, int member,
                               std::string* error) = 0;

    // Hands one record over as insert_record does, but the store may send it
    // on while the caller goes on: rows are stored in the order given, each
    // with its member's mark in a transaction of its own, and each row's
    // answer comes back once, in `settled` of this call or of a later
    // queue_record or settle_rows of the same table. Stores at once unless
    // the store overrides it.
    virtual void queue_record(std::string_view table, const ContactRecord& record, int member,
                              std::vector<QueuedRow>* settled) {
        QueuedRow row;
        row.member = member;
        row.stored = insert_record(table, record, member, &row.error);
        row.claim_lost = !row.stored && claim_lost(table);
        settled->push_back(std::move(row));
    }

    // Waits until every row queued for the table has its answer, and hands
    // over the answers not handed over yet.
    virtual void settle_rows(std::string_view, std::vector<QueuedRow>*) {}

    // The keyword's collection state; untracked when none is kept.
    virtual bool read_state(std::string_view table, CollectionState* state, std::string* error) = 0;

    // Deletes the keywords' tables and states, all in one transaction.
    virtual bool forget(const std::vector<std::string>& tables, std::string* error) = 0;

    // Claims the keyword for this collector: false, with the reason, while
    // another task or process holds it. A claim ends with release() or
    // with the process. While a keyword is claimed, its member list and rows
    // are stored only as long as no other collector has claimed it since
    // (see KeywordClaims); writes of a keyword not claimed are not checked.
    virtual bool claim(std::string_view table, std::string* error) = 0;
    virtual void release(std::string_view table) = 0;

    // True once a write of the claimed keyword found it claimed by another
    // collector since: nothing more of it is stored until it is claimed anew.
    virtual bool claim_lost(std::string_view table) {
        (void)table;
        return false;
    }

    // Makes every wait for a database held by someone else give up at once,
    // from now on: the program is stopping. Safe from any thread.
    virtual void interrupt() = 0;

    // The names of the stored keyword tables in a stable order (the order of
    // their creation), leaving out the database's own tables.
    virtual bool read_table_names(std::vector<std::string>* names, std::string* error) = 0;

    // Hands the table's rows to `sink` in stored order; `sink` returns false
    // to stop early.
    virtual bool read_rows(std::string_view table, const std::function<bool(ContactRecord&&)>& sink,
                           std::string* error) = 0;

    virtual bool count_rows(std::string_view table, long long* count, std::string* error) = 0;

    // Makes the keyword's table holding `rows`, with `state` as its
    // collection state, all in one transaction: a keyword copied from
    // another store. False, with nothing changed, when the table exists.
    virtual bool import_table(std::string_view table, const std::vector<ContactRecord>& rows,
                              const CollectionState& state, std::string* error) = 0;
};

}  // namespace qinglan
