#include "storage/postgres_connection.h"

#include <poll.h>

#include "services/failure.h"
#include "services/url_parts.h"
#include "storage/database_login.h"

namespace qinglan::postgres {

// "server closed the connection unexpectedly\n\tThis probably means ...":
// one line reads better after "cannot store a row into ...: ".
std::string one_line(const char* message) {
    std::string text;
    bool blank = false;
    for (const char* c = message != nullptr ? message : ""; *c != '\0'; ++c) {
        if (*c == '\n' || *c == '\t' || *c == '\r' || *c == ' ') {
            blank = !text.empty();
            continue;
        }
        if (blank) {
            text += ' ';
            blank = false;
        }
        text += *c;
    }
    return text.empty() ? "unknown failure" : text;
}

std::string masked_url(std::string_view url) {
    return mask_user_info(url);
}

namespace {

// libpq's words, which may quote what it was given: the password, if any,
// and any user-info are put out of sight.
std::string hidden(std::string message, const std::string& password) {
    if (!password.empty()) {
        for (auto at = message.find(password); at != std::string::npos;
             at = message.find(password, at + 3)) {
            message.replace(at, password.size(), "***");
        }
    }
    return mask_user_info(message);
}

}  // namespace

Connection::Connection(std::string url, std::function<bool(Connection&, std::string*)> on_connect)
    : url_(std::move(url)), on_connect_(std::move(on_connect)) {}

Connection::~Connection() {
    close();
}

void Connection::close() {
    {
        std::lock_guard lock(cancel_mutex_);
        PQfreeCancel(cancel_);
        cancel_ = nullptr;
    }
    PQfinish(conn_);
    conn_ = nullptr;
    prepared_.clear();
}

bool Connection::alive() {
    if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
        return false;
    }
    // A session the server ended while it was idle (a restart, an
    // administrator) has said so on its socket: its last words, then the
    // end. Found here, it is replaced before the next statement instead of
    // failing it.
    for (int reads = 0; reads < 4; ++reads) {
        pollfd socket{PQsocket(conn_), POLLIN, 0};
        if (::poll(&socket, 1, 0) <= 0 || PQconsumeInput(conn_) == 0) {
            break;
        }
    }
    return PQstatus(conn_) == CONNECTION_OK;
}

bool Connection::ensure(std::string* error) {
    if (alive()) {
        return true;
    }
    close();
    // libpq never sees the URL's user-info: its messages quote the URL it
    // was given, and it would read a raw "@" or "/" in a password as the
    // host or the path. The login goes in its own parameters instead, the
    // URL's first, else the settings', else libpq's defaults.
    UrlLogin login;
    std::string reason;
    if (!split_url_login(url_, &login, &reason)) {
        return fail(error, "cannot connect to " + masked_url(url_) + ": " + reason);
    }
    const DatabaseLogin configured = database_login();
    const std::string user = login.user.empty() ? configured.user : login.user;
    const std::string password = login.password.empty() ? configured.password : login.password;
    // The URL's own settings win over the defaults before it; the login and
    // the text encoding after it win over the URL.
    std::vector<const char*> keys = {"connect_timeout", "application_name", "dbname"};
    std::vector<const char*> values = {"10", "qinglan", login.address.c_str()};
    for (const auto& [key, value] : {std::pair{"user", &user}, std::pair{"password", &password}}) {
        if (!value->empty()) {
            keys.push_back(key);
            values.push_back(value->c_str());
        }
    }
    keys.insert(keys.end(), {"client_encoding", nullptr});
    values.insert(values.end(), {"UTF8", nullptr});
    conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
    if (conn_ == nullptr) {
        return fail(error, "cannot connect to " + masked_url(url_) + ": out of memory");
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        reason = hidden(one_line(PQerrorMessage(conn_)), password);
        close();
        return fail(error, "cannot connect to " + masked_url(url_) + ": " + reason);
    }
    // The server's notices ("relation ... already exists, skipping") are
    // no news to anyone: libpq would print them on stderr.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    {
        std::lock_guard lock(cancel_mutex_);
        cancel_ = PQgetCancel(conn_);
    }
    if (on_connect_ && !on_connect_(*this, &reason)) {
        close();
        return fail(error, "cannot use " + masked_url(url_) + ": " + reason);
    }
    return true;
}

namespace {

struct Values {
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    explicit Values(const std::vector<Param>& params) {
        for (const Param& param : params) {
            values.push_back(param.value.c_str());
            lengths.push_back(static_cast<int>(param.value.size()));
            formats.push_back(param.binary ? 1 : 0);
        }
    }
};

// The result, or nullptr with the reason.
Result checked(Result result, PGconn* conn, std::string* error) {
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        fail(error, one_line(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn)));
        return nullptr;
    }
    return result;
}

}  // namespace

Result Connection::exec(const std::string& sql, const std::vector<Param>& params,
                        std::string* error) {
    if (!ensure(error)) {
        return nullptr;
    }
    const Values values(params);
    // Without parameters a text may hold several statements.
    return checked(
        Result(params.empty() ? PQexec(conn_, sql.c_str())
                              : PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()),
                                             nullptr, values.values.data(), values.lengths.data(),
                                             values.formats.data(), 0)),
        conn_, error);
}

bool Connection::prepare(const std::string& sql, int params, std::string* name,
                         std::string* error) {
    auto found = prepared_.find(sql);
    if (found == prepared_.end()) {
        std::string next = "q";  // appended, not added: GCC 12 misreads the sum (-Wrestrict)
        next += std::to_string(++statements_);
        if (!checked(Result(PQprepare(conn_, next.c_str(), sql.c_str(), params, nullptr)), conn_,
                     error)) {
            return false;
        }
        found = prepared_.emplace(sql, next).first;
    }
    *name = found->second;
    return true;
}

void Connection::forget_prepared(const std::string& sql) {
    const auto found = prepared_.find(sql);
    if (found != prepared_.end()) {
        PQclear(PQexec(conn_, ("DEALLOCATE " + found->second).c_str()));
        prepared_.erase(found);
    }
}

bool Connection::send_prepared(const std::string& name, const std::vector<Param>& params) {
    const Values values(params);
    return PQsendQueryPrepared(conn_, name.c_str(), static_cast<int>(params.size()),
                               values.values.data(), values.lengths.data(), values.formats.data(),
                               0) == 1;
}

Result Connection::exec_prepared(const std::string& sql, const std::vector<Param>& params,
                                 std::string* error) {
    std::string name;
    if (!ensure(error) || !prepare(sql, static_cast<int>(params.size()), &name, error)) {
        return nullptr;
    }
    const Values values(params);
    Result result =
        checked(Result(PQexecPrepared(conn_, name.c_str(), static_cast<int>(params.size()),
                                      values.values.data(), values.lengths.data(),
                                      values.formats.data(), 0)),
                conn_, error);
    if (!result) {
        // A statement whose table went away is prepared anew next time.
        forget_prepared(sql);
    }
    return result;
}

bool Connection::send_single_rows(const std::string& sql, const std::vector<Param>& params,
                                  std::string* error) {
    if (!ensure(error)) {
        return false;
    }
    std::vector<const char*> values;
    for (const Param& param : params) {
        values.push_back(param.value.c_str());
    }
    if (PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                          values.data(), nullptr, nullptr, 0) != 1) {
        return fail(error, one_line(PQerrorMessage(conn_)));
    }
    if (PQsetSingleRowMode(conn_) != 1) {
        const std::string reason = one_line(PQerrorMessage(conn_));
        while (Result(PQgetResult(conn_))) {
        }
        return fail(error, reason);
    }
    return true;
}

Connection::Fetch Connection::next_row(Result* row, std::string* error) {
    std::string reason;
    for (;;) {
        Result result(PQgetResult(conn_));
        if (!result) {
            if (!reason.empty()) {
                fail(error, reason);
                return Fetch::kFailed;
            }
            return Fetch::kEnd;
        }
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_SINGLE_TUPLE && reason.empty()) {
            *row = std::move(result);
            return Fetch::kRow;
        }
        // The end of the rows is followed by the end of all; a failure is
        // read to that end too, so the connection is free again.
        if (status != PGRES_TUPLES_OK && status != PGRES_SINGLE_TUPLE && reason.empty()) {
            reason = one_line(PQresultErrorMessage(result.get()));
        }
    }
}

void Connection::cancel() {
    std::lock_guard lock(cancel_mutex_);
    if (cancel_ != nullptr) {
        char buffer[256];
        PQcancel(cancel_, buffer, sizeof buffer);
    }
}

}  // namespace qinglan::postgres
