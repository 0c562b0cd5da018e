#include "export/stored_rows.h"

namespace qinglan {

bool StoredRows::read(RecordStore& store, const std::string& keyword, std::string* error) {
    return store.read_rows(
        keyword,
        [this](ContactRecord&& record) {
            add(record);
            return true;
        },
        error);
}

void StoredRows::add(const ContactRecord& record) {
    for (const std::string& field : record) {
        starts_.push_back(text_.size());
        text_ += field;
    }
}

bool StoredRows::row(std::size_t index, ContactRecord* out) {
    if (index >= row_count()) {
        return false;
    }
    for (std::size_t field = 0; field < kRecordFields; ++field) {
        const std::size_t at = index * kRecordFields + field;
        const std::size_t end = at + 1 < starts_.size() ? starts_[at + 1] : text_.size();
        (*out)[field].assign(text_, starts_[at], end - starts_[at]);
    }
    return true;
}

}  // namespace qinglan
