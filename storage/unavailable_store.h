#pragma once

// Stands in for a database that could not be opened: every operation fails
// with the reason it could not be opened, so that the failure is reported
// wherever the database is next needed instead of being forgotten.

#include <string>
#include <utility>

#include "services/failure.h"
#include "storage/keyword_claims.h"
#include "storage/record_store.h"

namespace qinglan {

class UnavailableStore final : public RecordStore {
public:
    explicit UnavailableStore(std::string reason) : reason_(std::move(reason)) {}
    std::string location() const override { return std::string(); }
    using RecordStore::ensure_table;
    bool ensure_table(std::string_view, std::string_view, std::string* error) override {
        return fail(error);
    }
    bool save_members_from(std::string_view, int, const std::vector<std::string>&, int, bool,
                           std::string* error) override {
        return fail(error);
    }
    bool insert_record(std::string_view, const ContactRecord&, int, std::string* error) override {
        return fail(error);
    }
    bool read_state(std::string_view, CollectionState*, std::string* error) override {
        return fail(error);
    }
    bool forget(const std::vector<std::string>&, std::string* error) override {
        return fail(error);
    }
    // Without a database nothing is stored, but a keyword is still collected
    // by one task at a time.
    bool claim(std::string_view table, std::string* error) override {
        return claims_.claim(table, error);
    }
    void release(std::string_view table) override { claims_.release(table); }
    void interrupt() override {}
    bool read_table_names(std::vector<std::string>*, std::string* error) override {
        return fail(error);
    }
    bool read_rows(std::string_view, const std::function<bool(ContactRecord&&)>&,
                   std::string* error) override {
        return fail(error);
    }
    bool count_rows(std::string_view, long long*, std::string* error) override {
        return fail(error);
    }
    bool import_table(std::string_view, const std::vector<ContactRecord>&, const CollectionState&,
                      std::string* error) override {
        return fail(error);
    }

private:
    bool fail(std::string* error) const { return qinglan::fail(error, reason_); }
    std::string reason_;
    KeywordClaims claims_{""};
};

}  // namespace qinglan
