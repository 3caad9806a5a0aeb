// tdslite's protocol end to end: the FreeTDS ODBC driver through unixODBC, as the converter uses
// it, against a tdslite started for the suite.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/tdslite_process.h"

namespace {

using testsupport::TdsliteOptions;
using testsupport::TdsliteServer;

struct Diag {
    std::string state;
    long native = 0;
    std::string message;
};

SQLCHAR* Sql(const std::string& s) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

std::vector<Diag> Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::vector<Diag> records;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR message[1000] = {};
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(
                SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length)))
            break;
        records.push_back(
            {reinterpret_cast<char*>(state), native, reinterpret_cast<char*>(message)});
    }
    return records;
}

// One ODBC connection: environment and connection handle, freed with the object.
class Connection {
  public:
    Connection() {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    }
    ~Connection() {
        if (connected_) SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    SQLRETURN Connect(const TdsliteServer& server, const std::string& user,
                      const std::string& password) {
        server.ApplyOdbcEnvironment();
        const SQLRETURN rc = SQLConnect(dbc_, Sql(server.dsn()), SQL_NTS, Sql(user), SQL_NTS,
                                        Sql(password), SQL_NTS);
        connected_ = SQL_SUCCEEDED(rc);
        return rc;
    }
    SQLRETURN Connect(const TdsliteServer& server) {
        return Connect(server, server.options().user, server.options().password);
    }
    SQLHDBC dbc() const { return dbc_; }

  private:
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool connected_ = false;
};

// A statement handle, freed with the object (which sends ATTENTION when rows are left unread).
class Statement {
  public:
    explicit Statement(const Connection& c) { SQLAllocHandle(SQL_HANDLE_STMT, c.dbc(), &h_); }
    ~Statement() { Free(); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    SQLHSTMT get() const { return h_; }
    SQLRETURN Free() {
        SQLRETURN rc = SQL_SUCCESS;
        if (h_ != SQL_NULL_HSTMT) rc = SQLFreeHandle(SQL_HANDLE_STMT, h_);
        h_ = SQL_NULL_HSTMT;
        return rc;
    }
    SQLRETURN Exec(const std::string& sql) { return SQLExecDirect(h_, Sql(sql), SQL_NTS); }
    std::vector<Diag> Diagnostics() const { return ::Diagnostics(SQL_HANDLE_STMT, h_); }

  private:
    SQLHSTMT h_ = SQL_NULL_HSTMT;
};

constexpr const char* kPeople =
    "CREATE TABLE person (id int NOT NULL PRIMARY KEY, name varchar(30) NULL, badge char(6) "
    "NULL);\n"
    "INSERT INTO person VALUES (1, 'Anna', 'A1'), (2, NULL, NULL), "
    "(3, 'Maximilian Mustermann', 'M3');\n";

class ProtocolOdbc : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        TdsliteOptions options;
        options.init_sql = kPeople;
        server_ = TdsliteServer::Start(options).release();
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(server_, nullptr) << "tdslite did not start";
        ASSERT_TRUE(SQL_SUCCEEDED(connection_.Connect(*server_)))
            << ::testing::PrintToString(Diagnostics(SQL_HANDLE_DBC, connection_.dbc()));
    }
    static inline TdsliteServer* server_ = nullptr;
    Connection connection_;
};

void PrintTo(const Diag& d, std::ostream* os) {
    *os << d.state << " " << d.native << " " << d.message;
}

TEST_F(ProtocolOdbc, RefusedLoginReportsSqlServersLoginFailure) {
    struct Case {
        const char* name;
        std::string user, password;
    } cases[] = {
        {"wrong_password", "zeit", "falsch"},
        {"unknown_user", "sa", "geheim"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Connection refused;
        EXPECT_EQ(refused.Connect(*server_, c.user, c.password), SQL_ERROR);
        const auto records = Diagnostics(SQL_HANDLE_DBC, refused.dbc());
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records[0].state, "42000");
        EXPECT_EQ(records[0].native, 18456);
        EXPECT_EQ(records[0].message,
                  "[unixODBC][FreeTDS][SQL Server]Login failed for user '" + c.user + "'.");
    }
    // The user name is compared without regard to case, the password exactly.
    Connection upper;
    EXPECT_TRUE(SQL_SUCCEEDED(upper.Connect(*server_, "ZEIT", "geheim")));
}

TEST_F(ProtocolOdbc, DirectSelectBindsCharAndLong) {
    struct Case {
        const char* name;
        std::string sql;
        SQLLEN buffer;     // bytes of the SQL_C_CHAR buffer
        SQLRETURN fetch;   // first SQLFetch
        std::string text;  // buffer after the fetch ('x' fill where untouched)
        SQLLEN text_indicator;
        long id;  // SQL_C_LONG column; -7 when untouched
    } cases[] = {
        {"plain", "SELECT name, id FROM person WHERE id = 1", 31, SQL_SUCCESS, "Anna", 4, 1},
        {"cut_to_buffer", "SELECT name, id FROM person WHERE id = 3", 6, SQL_SUCCESS_WITH_INFO,
         "Maxim", 21, 3},
        {"null_leaves_buffer", "SELECT name, id FROM person WHERE id = 2", 31, SQL_SUCCESS,
         "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", SQL_NULL_DATA, 2},
        {"no_row", "SELECT name, id FROM person WHERE id = 99", 31, SQL_NO_DATA,
         "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", 12345, -7},
        {"char_padded", "SELECT badge, id FROM person WHERE id = 1", 31, SQL_SUCCESS, "A1    ", 6,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char text[32];
        std::memset(text, 'x', sizeof text);
        text[30] = '\0';
        SQLLEN text_indicator = 12345;
        SQLINTEGER id = -7;
        SQLLEN id_indicator = 0;
        SQLRETURN fetch = SQL_ERROR;
        std::vector<Diag> fetch_diag;
        {
            Statement stmt(connection_);
            ASSERT_EQ(stmt.Exec(c.sql), SQL_SUCCESS)
                << ::testing::PrintToString(stmt.Diagnostics());
            SQLBindCol(stmt.get(), 1, SQL_C_CHAR, text, c.buffer, &text_indicator);
            SQLBindCol(stmt.get(), 2, SQL_C_LONG, &id, sizeof id, &id_indicator);
            fetch = SQLFetch(stmt.get());
            fetch_diag = stmt.Diagnostics();
        }  // freed with the rest unread
        EXPECT_EQ(fetch, c.fetch);
        EXPECT_EQ(std::string(text), c.text);
        EXPECT_EQ(text_indicator, c.text_indicator);
        EXPECT_EQ(id, c.id);
        if (c.fetch == SQL_SUCCESS_WITH_INFO) {
            ASSERT_FALSE(fetch_diag.empty());
            EXPECT_EQ(fetch_diag[0].state, "01004");
        }
    }
}

TEST_F(ProtocolOdbc, FetchingEveryRowEndsWithNoData) {
    Statement stmt(connection_);
    ASSERT_EQ(stmt.Exec("SELECT id FROM person"), SQL_SUCCESS);
    SQLINTEGER id = 0;
    SQLLEN indicator = 0;
    SQLBindCol(stmt.get(), 1, SQL_C_LONG, &id, sizeof id, &indicator);
    std::vector<int> ids;
    while (SQLFetch(stmt.get()) == SQL_SUCCESS) ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(SQLFetch(stmt.get()), SQL_NO_DATA);
}

// Every lookup that finds a row leaves the rest of the answer unread, so freeing the handle
// sends ATTENTION; the connection must stay in step for the next statement, every time.
TEST_F(ProtocolOdbc, FreeingWithRowsUnreadKeepsTheConnectionInStep) {
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(i);
        {
            Statement stmt(connection_);
            ASSERT_EQ(stmt.Exec("SELECT id FROM person"), SQL_SUCCESS);
            SQLINTEGER id = 0;
            SQLLEN indicator = 0;
            SQLBindCol(stmt.get(), 1, SQL_C_LONG, &id, sizeof id, &indicator);
            ASSERT_EQ(SQLFetch(stmt.get()), SQL_SUCCESS);
            ASSERT_EQ(stmt.Free(), SQL_SUCCESS);
        }
        Statement next(connection_);
        ASSERT_EQ(next.Exec("SELECT name FROM person WHERE id = 1"), SQL_SUCCESS);
        char name[31] = {};
        SQLLEN indicator = 0;
        SQLBindCol(next.get(), 1, SQL_C_CHAR, name, sizeof name, &indicator);
        ASSERT_EQ(SQLFetch(next.get()), SQL_SUCCESS);
        EXPECT_STREQ(name, "Anna");
        EXPECT_EQ(SQLFetch(next.get()), SQL_NO_DATA);
    }
}

// The converter's badge lookups: a forward-only cursor with lock concurrency, which FreeTDS
// runs as server cursor RPCs (open, name, fetch per SQLFetch, close).
TEST_F(ProtocolOdbc, ServerCursorUnderLockConcurrency) {
    struct Case {
        const char* name;
        std::string sql;
        std::vector<std::string> names;  // every SQLFetch until SQL_NO_DATA, in any order
    } cases[] = {
        {"one_row", "SELECT name FROM person WHERE id = 1", {"Anna"}},
        {"no_row", "SELECT name FROM person WHERE id = 42", {}},
        {"several_rows",
         "SELECT name FROM person WHERE id <> 2",
         {"Anna", "Maximilian Mustermann"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_->ClearStatementLog();
        Statement stmt(connection_);
        ASSERT_EQ(SQLSetStmtAttr(stmt.get(), SQL_ATTR_CONCURRENCY,
                                 reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK), 0),
                  SQL_SUCCESS);
        ASSERT_EQ(SQLSetStmtAttr(stmt.get(), SQL_ATTR_CURSOR_SCROLLABLE,
                                 reinterpret_cast<SQLPOINTER>(SQL_NONSCROLLABLE), 0),
                  SQL_SUCCESS);
        ASSERT_EQ(stmt.Exec(c.sql), SQL_SUCCESS) << ::testing::PrintToString(stmt.Diagnostics());
        char name[31] = {};
        SQLLEN indicator = 0;
        SQLBindCol(stmt.get(), 1, SQL_C_CHAR, name, sizeof name, &indicator);
        std::vector<std::string> names;
        SQLRETURN rc;
        while ((rc = SQLFetch(stmt.get())) == SQL_SUCCESS) names.push_back(name);
        EXPECT_EQ(rc, SQL_NO_DATA) << ::testing::PrintToString(stmt.Diagnostics());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(stmt.Free(), SQL_SUCCESS);
        // The cursor statement is logged as sent; the cursor RPCs around it are not statements.
        EXPECT_EQ(server_->StatementLog(), std::vector<std::string>{c.sql});
    }
    // Direct statements on the same connection still work after the cursors.
    EXPECT_EQ(server_->Query("SELECT name FROM person WHERE id = 1"),
              std::vector<std::string>{"Anna"});
}

TEST_F(ProtocolOdbc, ServerCursorFetchesOneRowPerFetchAndCanBeLeftEarly) {
    Statement stmt(connection_);
    SQLSetStmtAttr(stmt.get(), SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK),
                   0);
    SQLSetStmtAttr(stmt.get(), SQL_ATTR_CURSOR_SCROLLABLE,
                   reinterpret_cast<SQLPOINTER>(SQL_NONSCROLLABLE), 0);
    ASSERT_EQ(stmt.Exec("SELECT id FROM person"), SQL_SUCCESS);
    SQLINTEGER id = 0;
    SQLLEN indicator = 0;
    SQLBindCol(stmt.get(), 1, SQL_C_LONG, &id, sizeof id, &indicator);
    EXPECT_EQ(SQLFetch(stmt.get()), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt.get()), SQL_SUCCESS);  // a second fetch must not find rows pending
    EXPECT_EQ(stmt.Free(), SQL_SUCCESS);
    Statement next(connection_);
    EXPECT_EQ(next.Exec("SELECT id FROM person WHERE id = 3"), SQL_SUCCESS);
    SQLBindCol(next.get(), 1, SQL_C_LONG, &id, sizeof id, &indicator);
    EXPECT_EQ(SQLFetch(next.get()), SQL_SUCCESS);
    EXPECT_EQ(id, 3);
}

TEST_F(ProtocolOdbc, ErrorsCarrySqlStateNativeNumberAndText) {
    struct Case {
        const char* name;
        bool cursor;
        std::string sql;
        Diag expected;
    } cases[] = {
        {"unknown_table",
         false,
         "SELECT name FROM nope",
         {"42S02", 208, "[FreeTDS][SQL Server]Invalid object name 'nope'."}},
        {"unknown_table_cursor",
         true,
         "SELECT name FROM nope",
         {"42S02", 208, "[FreeTDS][SQL Server]Invalid object name 'nope'."}},
        {"unknown_column",
         false,
         "SELECT nope FROM person",
         {"42S22", 207, "[FreeTDS][SQL Server]Invalid column name 'nope'."}},
        {"duplicate_key",
         false,
         "INSERT INTO person VALUES (1, 'Again', NULL)",
         {"23000", 2627, ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Statement stmt(connection_);
        if (c.cursor) {
            SQLSetStmtAttr(stmt.get(), SQL_ATTR_CONCURRENCY,
                           reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK), 0);
            SQLSetStmtAttr(stmt.get(), SQL_ATTR_CURSOR_SCROLLABLE,
                           reinterpret_cast<SQLPOINTER>(SQL_NONSCROLLABLE), 0);
        }
        EXPECT_EQ(stmt.Exec(c.sql), SQL_ERROR);
        const auto records = stmt.Diagnostics();
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records[0].state, c.expected.state);
        EXPECT_EQ(records[0].native, c.expected.native);
        if (!c.expected.message.empty()) {
            EXPECT_EQ(records[0].message, c.expected.message);
        }
    }
}

TEST_F(ProtocolOdbc, InsertReportsItsRowCount) {
    Statement stmt(connection_);
    ASSERT_EQ(stmt.Exec("INSERT INTO person VALUES (20, 'Zoe', NULL)"), SQL_SUCCESS)
        << ::testing::PrintToString(stmt.Diagnostics());
    SQLLEN rows = -1;
    EXPECT_EQ(SQLRowCount(stmt.get(), &rows), SQL_SUCCESS);
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(server_->Query("SELECT name FROM person WHERE id = 20"),
              std::vector<std::string>{"Zoe"});
}

TEST_F(ProtocolOdbc, Latin1BytesTravelAsSingleBytes) {
    // 0xFC is u-umlaut; 0x80 is the euro sign, which only cp1252 has.
    const std::string name =
        "M\xFC"
        "ller \x80";
    Statement insert(connection_);
    ASSERT_EQ(insert.Exec("INSERT INTO person VALUES (30, '" + name + "', NULL)"), SQL_SUCCESS);
    EXPECT_EQ(server_->Query("SELECT name FROM person WHERE id = 30"),
              std::vector<std::string>{name});
    EXPECT_EQ(server_->Query("SELECT id FROM person WHERE name = '" + name + "'"),
              std::vector<std::string>{"30"});
    const auto log = server_->StatementLog();
    EXPECT_NE(
        std::find(log.begin(), log.end(), "INSERT INTO person VALUES (30, '" + name + "', NULL)"),
        log.end());
}

// Requests and answers beyond one 4096-byte packet travel in several packets.
TEST_F(ProtocolOdbc, LongTextsSpanSeveralPackets) {
    const std::string long_text(3000, 'x');  // 6000 bytes as UCS-2 in the request
    EXPECT_EQ(server_->Query("SELECT '" + long_text + "'"), std::vector<std::string>{long_text});
    const auto rows = server_->Query("SELECT REPLICATE('a', 6000), REPLICATE('b', 7000)");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], std::string(6000, 'a') + "|" + std::string(7000, 'b'));
}

TEST_F(ProtocolOdbc, StatementLogHoldsEachTextAsSent) {
    server_->ClearStatementLog();
    const std::vector<std::string> sent = {"SELECT id FROM person WHERE id = 1",
                                           "  SELECT   name FROM person WHERE id=2  ",
                                           "SELECT 'it''s'"};
    for (const auto& sql : sent) {
        Statement stmt(connection_);
        EXPECT_TRUE(SQL_SUCCEEDED(stmt.Exec(sql)));
    }
    EXPECT_EQ(server_->StatementLog(), sent);
}

TEST_F(ProtocolOdbc, TwoConnectionsAreServedAtOnce) {
    // A holds a result half read while B works.
    Connection second;
    ASSERT_TRUE(SQL_SUCCEEDED(second.Connect(*server_)));
    Statement a(connection_);
    ASSERT_EQ(a.Exec("SELECT id FROM person"), SQL_SUCCESS);
    SQLINTEGER id = 0;
    SQLLEN indicator = 0;
    SQLBindCol(a.get(), 1, SQL_C_LONG, &id, sizeof id, &indicator);
    EXPECT_EQ(SQLFetch(a.get()), SQL_SUCCESS);
    {
        Statement b(second);
        EXPECT_EQ(b.Exec("INSERT INTO person VALUES (40, 'Berta', NULL)"), SQL_SUCCESS);
    }
    EXPECT_EQ(SQLFetch(a.get()), SQL_SUCCESS);

    // Both connections busy at the same time, from two threads.
    std::atomic<int> good{0};
    auto lookups = [&](const Connection& c, int key, const char* expected) {
        for (int i = 0; i < 100; ++i) {
            Statement s(c);
            char name[31] = {};
            SQLLEN ind = 0;
            if (s.Exec("SELECT name FROM person WHERE id = " + std::to_string(key)) != SQL_SUCCESS)
                continue;
            SQLBindCol(s.get(), 1, SQL_C_CHAR, name, sizeof name, &ind);
            if (SQLFetch(s.get()) == SQL_SUCCESS && std::string(name) == expected) ++good;
        }
    };
    a.Free();
    std::thread t1(lookups, std::cref(connection_), 1, "Anna");
    std::thread t2(lookups, std::cref(second), 40, "Berta");
    t1.join();
    t2.join();
    EXPECT_EQ(good, 200);
}

// A server that drops the connection on its second statement.
TEST(ProtocolOdbcDrop, DroppedConnectionFailsTheStatementAndOthersGoOn) {
    TdsliteOptions options;
    options.drop_after = 2;
    auto server = TdsliteServer::Start(options);
    ASSERT_NE(server, nullptr);
    Connection c;
    ASSERT_TRUE(SQL_SUCCEEDED(c.Connect(*server)))
        << ::testing::PrintToString(Diagnostics(SQL_HANDLE_DBC, c.dbc()));
    {
        Statement first(c);
        EXPECT_EQ(first.Exec("SELECT 1"), SQL_SUCCESS);
    }
    {
        Statement second(c);
        EXPECT_EQ(second.Exec("SELECT 2"), SQL_ERROR);
        const auto records = second.Diagnostics();
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records[0].native, 20017);  // unexpected EOF from the server
    }
    {
        Statement third(c);
        EXPECT_EQ(third.Exec("SELECT 3"), SQL_ERROR);
    }
    EXPECT_EQ(server->StatementLog(), (std::vector<std::string>{"SELECT 1", "SELECT 2"}));
    // A new connection counts its own statements.
    EXPECT_EQ(server->Query("SELECT 7"), std::vector<std::string>{"7"});
}

}  // namespace
