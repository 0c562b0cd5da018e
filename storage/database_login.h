#pragma once

// The login for a PostgreSQL server whose URL carries none of its own: the
// user and password of the settings, which stay out of the URL so that the
// URL can be shown, copied and stored without a secret in it. Like
// PGPASSWORD, it holds for every server the process connects to; set once
// at start, read by every connection. Thread-safe.

#include <string>

namespace qinglan {

struct DatabaseLogin {
    std::string user;      // empty: the URL's, else libpq's default
    std::string password;  // empty: the URL's, else PGPASSWORD or ~/.pgpass; never printed
};

void set_database_login(DatabaseLogin login);
DatabaseLogin database_login();

}  // namespace qinglan
