// tdslite benchmark: statements per second through unixODBC + FreeTDS on loopback, each on a
// fresh statement handle (allocate, execute, bind, fetch once, free), as the converter runs its
// lookups.  The table holds 100,000 rows; the lookups are equality matches on its key.
//
//   tdslite_bench [LOOKUPS]        (default 20000)
//
// Besides the lookup it times the same loop with a trivial SELECT (protocol and driver cost with
// almost no engine work; once fetched once, which costs an ATTENTION exchange when the handle is
// freed, and once read to the end, which does not), the lookup as a server cursor (the
// converter's badge lookup), and the
// lookup evaluated by the engine in this process without any protocol, so that a shortfall can be
// traced to the engine or to the protocol.
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

#include "engine/engine.h"
#include "support/tdslite_process.h"

namespace {

constexpr int kRows = 100000;
constexpr int kRowsPerInsert = 1000;  // SQL Server's limit for one VALUES list

SQLCHAR* Sql(const std::string& s) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

std::string RowValues(int from, int to) {
    std::string sql = "INSERT INTO dbo.bench VALUES ";
    for (int id = from; id < to; ++id) {
        if (id > from) sql += ", ";
        sql += "(" + std::to_string(id) + ", 'Name " + std::to_string(id) + "', 'B" +
               std::to_string(id % 9973) + "')";
    }
    return sql;
}

void PrintDiag(SQLSMALLINT type, SQLHANDLE h) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[1000] = {};
    SQLSMALLINT length = 0;
    if (SQL_SUCCEEDED(SQLGetDiagRec(type, h, 1, state, &native, message, sizeof message, &length)))
        std::fprintf(stderr, "  %s %d %s\n", state, static_cast<int>(native), message);
}

struct Figures {
    double per_second = 0;
    int failures = 0;
};

// Runs `count` statements, each on a fresh handle; `make_sql` gives the i-th text.  With
// `read_to_end` the loop fetches until SQL_NO_DATA, so the driver has read the final DONE and
// freeing the handle sends no ATTENTION (one round trip instead of two).
Figures Run(SQLHDBC dbc, int count, bool cursor, const std::function<std::string(int)>& make_sql,
            bool read_to_end = false) {
    Figures f;
    char name[64];
    SQLLEN indicator = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        const std::string sql = make_sql(i);
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
        if (cursor) {
            SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY,
                           reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK), 0);
            SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_SCROLLABLE,
                           reinterpret_cast<SQLPOINTER>(SQL_NONSCROLLABLE), 0);
        }
        if (SQLExecDirect(stmt, Sql(sql), SQL_NTS) != SQL_SUCCESS) {
            if (f.failures++ == 0) PrintDiag(SQL_HANDLE_STMT, stmt);
        } else {
            SQLBindCol(stmt, 1, SQL_C_CHAR, name, sizeof name, &indicator);
            if (SQLFetch(stmt) != SQL_SUCCESS) ++f.failures;
            if (read_to_end && SQLFetch(stmt) != SQL_NO_DATA) ++f.failures;
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    f.per_second = count / seconds.count();
    return f;
}

void Report(const char* what, int count, const Figures& f) {
    std::printf("%-44s %9.0f statements/s  %7.1f us each  (%d statements, %d failed)\n", what,
                f.per_second, 1e6 / f.per_second, count, f.failures);
}

}  // namespace

int main(int argc, char** argv) {
    const int lookups = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (lookups <= 0) {
        std::fprintf(stderr, "usage: tdslite_bench [LOOKUPS]\n");
        return 2;
    }
    auto server = testsupport::TdsliteServer::Start();
    if (!server) return 1;
    server->ApplyOdbcEnvironment();

    // Environment and connection live for the whole run, as in the converter.
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    const auto& o = server->options();
    if (!SQL_SUCCEEDED(SQLConnect(dbc, Sql(server->dsn()), SQL_NTS, Sql(o.user), SQL_NTS,
                                  Sql(o.password), SQL_NTS))) {
        PrintDiag(SQL_HANDLE_DBC, dbc);
        return 1;
    }

    const auto fill_start = std::chrono::steady_clock::now();
    int fill_failures = 0;
    {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
        const std::string create =
            "CREATE TABLE dbo.bench (id int NOT NULL PRIMARY KEY, name varchar(30) NOT NULL, "
            "badge char(8) NULL)";
        if (SQLExecDirect(stmt, Sql(create), SQL_NTS) == SQL_ERROR) {
            PrintDiag(SQL_HANDLE_STMT, stmt);
            return 1;
        }
        for (int from = 0; from < kRows; from += kRowsPerInsert) {
            if (SQLExecDirect(stmt, Sql(RowValues(from, from + kRowsPerInsert)), SQL_NTS) !=
                    SQL_SUCCESS &&
                fill_failures++ == 0)
                PrintDiag(SQL_HANDLE_STMT, stmt);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
    const std::chrono::duration<double> fill = std::chrono::steady_clock::now() - fill_start;
    std::printf("filled %d rows in %d INSERT batches: %.2f s (%d batches failed)\n", kRows,
                kRows / kRowsPerInsert, fill.count(), fill_failures);

    std::mt19937 random(4711);
    std::uniform_int_distribution<int> key(0, kRows - 1);
    auto lookup = [&](int) {
        return "SELECT name FROM dbo.bench WHERE id = " + std::to_string(key(random));
    };

    Run(dbc, 200, false, lookup);  // warm-up
    Report("lookup by key, direct, fetch once (goal 10000)", lookups,
           Run(dbc, lookups, false, lookup));
    auto select_1 = [](int) { return std::string("SELECT 1"); };
    Report("SELECT 1, direct, fetch once", lookups, Run(dbc, lookups, false, select_1));
    Report("SELECT 1, direct, read to the end", lookups, Run(dbc, lookups, false, select_1, true));
    Report("lookup by key, server cursor, fetch once", lookups / 4,
           Run(dbc, lookups / 4, true, lookup));

    // The engine alone: the same lookups without sockets, driver or tokens.
    std::string error;
    auto engine = tdslite::Engine::Open("", &error);
    if (!engine) {
        std::fprintf(stderr, "engine: %s\n", error.c_str());
        return 1;
    }
    engine->ExecuteBatch(
        "CREATE TABLE dbo.bench (id int NOT NULL PRIMARY KEY, name varchar(30) NOT NULL, badge "
        "char(8) NULL)");
    for (int from = 0; from < kRows; from += kRowsPerInsert)
        engine->ExecuteBatch(RowValues(from, from + kRowsPerInsert));
    int engine_failures = 0;
    const auto engine_start = std::chrono::steady_clock::now();
    for (int i = 0; i < lookups; ++i) {
        const auto results = engine->ExecuteBatch(lookup(i));
        if (results.size() != 1 || results[0].rows.size() != 1) ++engine_failures;
    }
    const std::chrono::duration<double> engine_time =
        std::chrono::steady_clock::now() - engine_start;
    Report("lookup by key, engine only (no protocol)", lookups,
           {lookups / engine_time.count(), engine_failures});

    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return 0;
}
