#include "storage/database_login.h"

#include <mutex>

namespace qinglan {
namespace {

std::mutex login_mutex;
DatabaseLogin current_login;  // under login_mutex

}  // namespace

void set_database_login(DatabaseLogin login) {
    std::lock_guard lock(login_mutex);
    current_login = std::move(login);
}

DatabaseLogin database_login() {
    std::lock_guard lock(login_mutex);
    return current_login;
}

}  // namespace qinglan
