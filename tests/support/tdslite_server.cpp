// A tdslite per test suite, and ODBC queries against it.
#include <gtest/gtest.h>
#include <odbcinst.h>
#include <poll.h>
#include <signal.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "support/process_internal.h"
#include "support/tdslite_process.h"

namespace testsupport {
namespace {

constexpr std::string_view kListening = "tdslite listening on 127.0.0.1:";

// Reads the child's first output line, waiting at most timeout_ms in all.
std::string ReadFirstLine(int fd, int timeout_ms, bool& complete) {
    std::string line;
    complete = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    char c = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return line;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return line;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return line;
        if (c == '\n') {
            complete = true;
            return line;
        }
        line.push_back(c);
    }
}

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string text;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR message[1024] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc =
            SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length);
        if (!SQL_SUCCEEDED(rc)) break;
        text += std::string(reinterpret_cast<char*>(state)) + " " + std::to_string(native) + " " +
                reinterpret_cast<char*>(message) + "\n";
    }
    return text;
}

}  // namespace

std::unique_ptr<TdsliteServer> TdsliteServer::Start(const TdsliteOptions& options) {
    std::unique_ptr<TdsliteServer> server(new TdsliteServer());
    server->options_ = options;
    const std::string& dir = server->dir();
    if (dir.empty()) return nullptr;

    std::vector<std::string> argv = {BuildPath("tdslite"),
                                     "--port",
                                     "0",
                                     "--user",
                                     options.user,
                                     "--password",
                                     options.password,
                                     "--statement-log",
                                     server->dir_.File("statements.log"),
                                     "--odbc-config",
                                     dir};
    if (!options.init_sql.empty()) {
        WriteFileBytes(server->dir_.File("init.sql"), options.init_sql);
        argv.insert(argv.end(), {"--init", server->dir_.File("init.sql")});
    }
    if (!options.init_script.empty()) argv.insert(argv.end(), {"--init", options.init_script});
    if (options.latency_ms > 0)
        argv.insert(argv.end(), {"--latency-ms", std::to_string(options.latency_ms)});
    if (options.drop_after > 0)
        argv.insert(argv.end(), {"--drop-after", std::to_string(options.drop_after)});

    internal::Pipe out;
    if (!out.Open()) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return nullptr;
    }
    std::string error;
    server->pid_ = internal::Spawn(argv, {}, -1, out.fds[1], -1, &error);
    out.Close(1);
    if (server->pid_ < 0) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    bool complete = false;
    const std::string line = ReadFirstLine(out.fds[0], 30000, complete);
    if (!complete || !line.starts_with(kListening)) {
        ADD_FAILURE() << "tdslite did not start; it printed \"" << line << "\"";
        return nullptr;  // the destructor stops whatever is left of it
    }
    server->port_ = std::atoi(line.c_str() + kListening.size());
    return server;
}

TdsliteServer::~TdsliteServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const int status = internal::WaitExit(pid_, 20000);
    // A server that crashed or hung during the tests fails them here.
    EXPECT_EQ(status, 0) << "tdslite did not stop cleanly (-1: killed by a signal, -2: hung)";
}

std::map<std::string, std::string> TdsliteServer::OdbcEnvironment() const {
    return {{"ODBCSYSINI", dir()},
            {"ODBCINI", dir() + "/odbc.ini"},
            {"FREETDSCONF", dir() + "/freetds.conf"}};
}

void TdsliteServer::ApplyOdbcEnvironment() const {
    for (const auto& [name, value] : OdbcEnvironment()) ::setenv(name.c_str(), value.c_str(), 1);
    // unixODBC caches what it read from odbc.ini for 20 seconds, keyed by the file's name, not its
    // folder: a second server in this process would get the first one's port.  Writing an entry
    // through the installer API clears that cache; the entry written is the port it already has.
    const std::string port = std::to_string(port_);
    if (!SQLWritePrivateProfileString(dsn().c_str(), "Port", port.c_str(),
                                      (dir() + "/odbc.ini").c_str()))
        ADD_FAILURE() << "cannot update " << dir() << "/odbc.ini";
}

std::vector<std::string> TdsliteServer::StatementLog() const {
    std::vector<std::string> statements;
    const std::string text = ReadFileBytes(dir_.File("statements.log"));
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + at, end - at);
        const std::size_t tab = line.find('\t');
        statements.emplace_back(tab == std::string_view::npos ? line : line.substr(tab + 1));
        at = end + 1;
    }
    return statements;
}

void TdsliteServer::ClearStatementLog() const {
    if (::truncate(dir_.File("statements.log").c_str(), 0) != 0)
        ADD_FAILURE() << "cannot clear the statement log: " << std::strerror(errno);
}

std::vector<std::string> TdsliteServer::Query(const std::string& sql) const {
    ApplyOdbcEnvironment();
    std::vector<std::string> rows;
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    bool connected = false;
    auto fail = [&](SQLSMALLINT type, SQLHANDLE handle, const char* step) {
        ADD_FAILURE() << "Query(\"" << sql << "\") failed at " << step << ":\n"
                      << Diagnostics(type, handle);
    };
    do {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
            ADD_FAILURE() << "Query: no ODBC environment";
            break;
        }
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
            fail(SQL_HANDLE_ENV, env, "SQLAllocHandle(DBC)");
            break;
        }
        const std::string dsn_name = dsn();
        if (!SQL_SUCCEEDED(SQLConnect(
                dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(dsn_name.c_str())), SQL_NTS,
                reinterpret_cast<SQLCHAR*>(const_cast<char*>(options_.user.c_str())), SQL_NTS,
                reinterpret_cast<SQLCHAR*>(const_cast<char*>(options_.password.c_str())),
                SQL_NTS))) {
            fail(SQL_HANDLE_DBC, dbc, "SQLConnect");
            break;
        }
        connected = true;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
            fail(SQL_HANDLE_DBC, dbc, "SQLAllocHandle(STMT)");
            break;
        }
        SQLRETURN rc = SQLExecDirect(
            stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
        if (rc == SQL_ERROR) {
            fail(SQL_HANDLE_STMT, stmt, "SQLExecDirect");
            break;
        }
        // Every result of the batch is read; the rows of the last result set are kept.
        while (rc != SQL_NO_DATA) {
            SQLSMALLINT columns = 0;
            SQLNumResultCols(stmt, &columns);
            if (columns > 0) {
                rows.clear();
                while ((rc = SQLFetch(stmt)) != SQL_NO_DATA) {
                    if (rc == SQL_ERROR) {
                        fail(SQL_HANDLE_STMT, stmt, "SQLFetch");
                        break;
                    }
                    std::string row;
                    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
                        if (c > 1) row += '|';
                        std::string value;
                        bool null = false;
                        for (;;) {
                            char part[1024];
                            SQLLEN indicator = 0;
                            const SQLRETURN g =
                                SQLGetData(stmt, c, SQL_C_CHAR, part, sizeof part, &indicator);
                            if (g == SQL_NO_DATA) break;
                            if (!SQL_SUCCEEDED(g)) {
                                fail(SQL_HANDLE_STMT, stmt, "SQLGetData");
                                break;
                            }
                            if (indicator == SQL_NULL_DATA) {
                                null = true;
                                break;
                            }
                            value += part;
                            if (g == SQL_SUCCESS) break;
                        }
                        row += null ? "NULL" : value;
                    }
                    rows.push_back(row);
                }
                if (rc == SQL_ERROR) break;
            }
            rc = SQLMoreResults(stmt);
            if (rc == SQL_ERROR) {
                fail(SQL_HANDLE_STMT, stmt, "SQLMoreResults");
                break;
            }
        }
    } while (false);
    if (stmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (connected) SQLDisconnect(dbc);
    if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
    return rows;
}

}  // namespace testsupport
