#pragma once

// Opens the store a place names: a PostgreSQL server for a URL beginning
// with postgresql:// or postgres://, else the SQLite file under that data
// folder. Every part of the program that opens a store comes here.

#include <memory>
#include <string>
#include <string_view>

#include "storage/record_store.h"

namespace qinglan {

bool is_database_url(std::string_view place);

// The file's path or the URL without its password, for messages.
std::string store_location(const std::string& place);

// nullptr with the reason (naming the file, or the URL without its
// password) when the store cannot be opened.
std::unique_ptr<RecordStore> open_record_store(const std::string& place, std::string* error);

}  // namespace qinglan
