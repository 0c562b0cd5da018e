#pragma once

// A PostgreSQL server of the tests' own: the distribution's initdb and
// pg_ctl on a temporary folder, listening on a free loopback port and on a
// socket in that folder, stopped at the end of the test program. One server
// per test program, started by the first test that asks for it; each test
// takes a database of its own on it. Run as root, the server runs as the
// "postgres" user (or "nobody"), since PostgreSQL refuses to run as root.
//
// When the server cannot be started, the tests that need it fail with the
// reason: they never pass without it.

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/temp_folder.h"

namespace qinglan {

class PgServer {
public:
    // The one server of this program; started on the first call.
    static PgServer& shared() {
        static PgServer server;
        return server;
    }

    bool running() const { return running_; }
    const std::string& failure() const { return failure_; }
    int port() const { return port_; }

    // A new, empty database; its URL for the trusted user "qinglan", or
    // empty with failure() saying why.
    std::string create_database(const std::string& name) {
        if (!running_ || !admin("DROP DATABASE IF EXISTS \"" + name + "\"") ||
            !admin("CREATE DATABASE \"" + name + "\" TEMPLATE template0 ENCODING 'UTF8'")) {
            return std::string();
        }
        return url_of(name);
    }

    std::string url_of(const std::string& database, const std::string& user = "qinglan") const {
        return "postgresql://" + user + "@127.0.0.1:" + std::to_string(port_) + "/" + database;
    }

    // The first value a query gives, as the superuser; empty when none.
    std::string value(const std::string& sql, const std::string& database) {
        std::string first;
        admin(sql, database, &first);
        return first;
    }

    // Runs one statement as the superuser on the database "postgres".
    bool admin(const std::string& sql, const std::string& database = "postgres",
               std::string* first = nullptr) {
        PGconn* conn = PQconnectdb(
            ("host=127.0.0.1 port=" + std::to_string(port_) + " user=qinglan dbname=" + database)
                .c_str());
        bool done = PQstatus(conn) == CONNECTION_OK;
        if (done) {
            PQsetNoticeProcessor(
                conn, [](void*, const char*) {}, nullptr);
            PGresult* result = PQexec(conn, sql.c_str());
            const ExecStatusType status = PQresultStatus(result);
            done = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
            if (first != nullptr && PQntuples(result) > 0) {
                *first = PQgetvalue(result, 0, 0);
            }
            if (!done) {
                failure_ = sql + ": " + PQresultErrorMessage(result);
            }
            PQclear(result);
        } else {
            failure_ = std::string("cannot connect: ") + PQerrorMessage(conn);
        }
        PQfinish(conn);
        return done;
    }

    // Stops the server at once, as an administrator's fast shutdown does:
    // sessions are ended, and the server is gone until start().
    bool stop() {
        running_ = !as_server(pg_ctl() + " stop -m fast -w -t 60");
        return !running_;
    }

    bool start() {
        if (!as_server(pg_ctl() + " start -w -t 60 -l " + (folder_.path() / "log").string() +
                       " -o '-p " + std::to_string(port_) + " -k " +
                       (folder_.path() / "socket").string() + "'")) {
            failure_ =
                "pg_ctl start failed; the server's log:\n" + file_contents(folder_.path() / "log");
            return false;
        }
        running_ = true;
        return true;
    }

    ~PgServer() {
        if (running_) {
            stop();
        }
    }

private:
    static constexpr const char* kBin = "/usr/lib/postgresql/15/bin/";

    PgServer() : folder_("pg-server") { running_ = set_up(); }

    std::string pg_ctl() const { return std::string(kBin) + "pg_ctl -D " + data_dir(); }
    std::string data_dir() const { return (folder_.path() / "data").string(); }

    // Runs a command as the server's user: root gives up its rights first.
    bool as_server(const std::string& command) {
        std::string line = command;
        if (::geteuid() == 0) {
            line = "setpriv --reuid=" + std::to_string(uid_) + " --regid=" + std::to_string(gid_) +
                   " --clear-groups -- " + command;
        }
        return std::system(
                   (line + " >>" + (folder_.path() / "commands.log").string() + " 2>&1").c_str()) ==
               0;
    }

    static int free_port() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(address.sin_port);
        }
        ::close(fd);
        return port;
    }

    bool set_up() {
        namespace fs = std::filesystem;
        if (::geteuid() == 0) {
            const passwd* user = ::getpwnam("postgres");
            if (user == nullptr) {
                user = ::getpwnam("nobody");
            }
            if (user == nullptr) {
                failure_ = "running as root, and no user postgres or nobody to run the server as";
                return false;
            }
            uid_ = user->pw_uid;
            gid_ = user->pw_gid;
        }
        fs::create_directories(folder_.path() / "socket");
        fs::permissions(folder_.path(),
                        fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        if (::geteuid() == 0) {
            for (const fs::path& path : {folder_.path(), folder_.path() / "socket"}) {
                if (::chown(path.c_str(), uid_, gid_) != 0) {
                    failure_ = "cannot hand " + path.string() + " to the server's user";
                    return false;
                }
            }
        }
        // The folder's parent must let the server's user through.
        if (!as_server(std::string(kBin) + "initdb -D " + data_dir() +
                       " -U qinglan -A trust -E UTF8 --locale=C --no-sync")) {
            failure_ = "initdb failed:\n" + file_contents(folder_.path() / "commands.log");
            return false;
        }
        // Loopback only; one user with a password to show where passwords
        // come from, everyone else trusted. No durability: a test server.
        std::ofstream(folder_.path() / "data" / "pg_hba.conf", std::ios::trunc)
            << "local all all trust\n"
               "host all secret 127.0.0.1/32 scram-sha-256\n"
               "host all all 127.0.0.1/32 trust\n";
        std::ofstream(folder_.path() / "data" / "postgresql.conf", std::ios::app)
            << "listen_addresses = '127.0.0.1'\nfsync = off\nfull_page_writes = off\n"
               "max_connections = 200\nshared_buffers = 32MB\n";
        for (int attempt = 0; attempt < 5; ++attempt) {
            port_ = free_port();
            if (port_ > 0 && start()) {
                return admin("CREATE ROLE secret LOGIN SUPERUSER PASSWORD 'pa:ss@w0rd'");
            }
        }
        return false;
    }

    TempFolder folder_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    int port_ = 0;
    bool running_ = false;
    std::string failure_;
};

// A database of the test's own on the shared server; fails the test when
// there is no server.
inline std::string test_database_url() {
    PgServer& server = PgServer::shared();
    EXPECT_TRUE(server.running()) << "no PostgreSQL server for the test: " << server.failure();
    // Numbered, since test names repeat across suites and parameters.
    static int databases = 0;
    std::string name = "t" + std::to_string(++databases) + "_" +
                       testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
    }
    const std::string url = server.create_database(name.substr(0, 48));
    EXPECT_FALSE(url.empty()) << server.failure();
    return url;
}

}  // namespace qinglan
