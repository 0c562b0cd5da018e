#include "storage/store_factory.h"

#include "storage/postgres_store.h"
#include "storage/sqlite_store.h"

namespace qinglan {

bool is_database_url(std::string_view place) {
    return place.rfind("postgresql://", 0) == 0 || place.rfind("postgres://", 0) == 0;
}

std::string store_location(const std::string& place) {
    return is_database_url(place) ? postgres::masked_url(place) : SqliteStore::database_path(place);
}

std::unique_ptr<RecordStore> open_record_store(const std::string& place, std::string* error) {
    if (is_database_url(place)) {
        return PostgresStore::open(place, error);
    }
    return SqliteStore::open(place, error);
}

}  // namespace qinglan
