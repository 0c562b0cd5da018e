#include "app/stored_keywords.h"

#include "storage/record_store.h"

namespace qinglan {

std::vector<StoredKeyword> read_stored_keywords(RecordStore& store,
                                                const std::vector<std::string>& names) {
    std::vector<StoredKeyword> keywords;
    keywords.reserve(names.size());
    for (const std::string& name : names) {
        StoredKeyword keyword;
        keyword.name = name;
        if (!store.count_rows(name, &keyword.rows, nullptr)) {
            keyword.rows = -1;
        }
        // A keyword without a state (stored before states were kept) counts
        // as complete, as its submission does.
        CollectionState state;
        if (store.read_state(name, &state, nullptr)) {
            keyword.complete = state.complete();
            keyword.members = static_cast<int>(state.members.size());
            keyword.stored = state.stored_count();
        }
        keywords.push_back(std::move(keyword));
    }
    return keywords;
}

}  // namespace qinglan
