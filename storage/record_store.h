#pragma once

// Where collected records are kept: one table per keyword, named exactly by
// the keyword, holding one row per collected member. The engine only talks to
// this interface, so another database can stand behind it.
//
// Every operation may run on any thread. Failures come back as false with a
// reason in `error` (when given); nothing throws.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/contact_record.h"

namespace qinglan {

class RecordStore {
public:
    virtual ~RecordStore() = default;

    // Creates the keyword's table unless a table of that name exists.
    virtual bool ensure_table(std::string_view table, std::string* error) = 0;

    // Stores one record as one row, durable once this returns true.
    virtual bool insert_record(std::string_view table, const ContactRecord& record,
                               std::string* error) = 0;

    // The names of the stored keyword tables in a stable order (the order of
    // their creation), leaving out the database's own tables.
    virtual bool read_table_names(std::vector<std::string>* names, std::string* error) = 0;

    // Hands the table's rows to `sink` in stored order; `sink` returns false
    // to stop early.
    virtual bool read_rows(std::string_view table, const std::function<bool(ContactRecord&&)>& sink,
                           std::string* error) = 0;

    virtual bool count_rows(std::string_view table, long long* count, std::string* error) = 0;
};

}  // namespace qinglan
