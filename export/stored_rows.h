#pragma once

// A keyword's stored rows read from the store into memory for an export:
// held as one block of text and the offsets of the fields, about half the
// memory of a vector of records on a large table.

#include <string>
#include <vector>

#include "export/row_source.h"
#include "storage/record_store.h"

namespace qinglan {

class StoredRows final : public RowSource {
public:
    // Reads every row of the keyword's table; false with the store's reason.
    bool read(RecordStore& store, const std::string& keyword, std::string* error);

    void add(const ContactRecord& record);
    std::size_t row_count() override { return starts_.size() / kRecordFields; }
    bool row(std::size_t index, ContactRecord* out) override;

private:
    std::string text_;
    std::vector<std::size_t> starts_;
};

}  // namespace qinglan
