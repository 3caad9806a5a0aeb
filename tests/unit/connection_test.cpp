// The connection through the driver manager alone: no data source is reachable here, so these
// cases cover refusal, diagnostics capture and replacing the handles of an earlier call.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "db/database.h"

namespace snp {
namespace {

// Points unixODBC at empty configuration folders, so no data source of the machine is found.
class NoDataSources : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string dir_template =
            (std::filesystem::temp_directory_path() / "snp-odbc-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir_template.data()), nullptr);
        dir_ = dir_template;
        ::setenv("ODBCSYSINI", dir_.c_str(), 1);
        ::setenv("ODBCINI", (dir_ + "/odbc.ini").c_str(), 1);
    }
    void TearDown() override { ::rmdir(dir_.c_str()); }
    std::string dir_;
};

TEST_F(NoDataSources, UnknownDataSourceFailsWithItsDiagnostic) {
    DbState db;
    db.diag.native_error = 4711;
    EXPECT_EQ(ConnectDatabase(db, "zeit", "geheim", "NOSUCHDSN"), -1);
    EXPECT_EQ(db.diag.state.view(), "IM002");  // data source not found
    EXPECT_FALSE(db.diag.message.empty());
    EXPECT_NE(db.env, nullptr);  // what was allocated stays: the run ends anyway
    EXPECT_NE(db.dbc, nullptr);
}

TEST_F(NoDataSources, SecondCallReplacesTheHandlesOfTheFirst) {
    DbState db;
    ASSERT_EQ(ConnectDatabase(db, "a", "b", "NOSUCHDSN"), -1);
    ASSERT_NE(db.dbc, nullptr);
    EXPECT_EQ(ConnectDatabase(db, "a", "b", "NOSUCHDSN2"), -1);
    EXPECT_EQ(db.diag.state.view(), "IM002");
    EXPECT_NE(db.dbc, nullptr);
}

TEST(ConnectDatabase, RefusesValuesOverTwentyThreeCharactersBeforeAnyOdbcCall) {
    const std::string fits(23, 'x');
    const std::string too_long(24, 'x');
    const struct {
        const char* name;
        std::string login, password, dsn;
    } cases[] = {
        {"login", too_long, fits, fits},
        {"password", fits, too_long, fits},
        {"dsn", fits, fits, too_long},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DbState db;
        EXPECT_EQ(ConnectDatabase(db, c.login, c.password, c.dsn), -1);
        EXPECT_EQ(db.env, nullptr);
        EXPECT_EQ(db.dbc, nullptr);
    }
}

TEST(CaptureDiagnostics, HandleWithoutRecordLeavesTheRecordZeroed) {
    SQLHENV env = SQL_NULL_HENV;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
    DiagnosticRecord record;
    record.state.assign("HY000");
    record.message.fill_text(999, 'm');
    record.native_error = 17;
    CaptureDiagnostics(SQL_HANDLE_ENV, env, record);
    EXPECT_TRUE(record.state.empty());
    EXPECT_TRUE(record.message.empty());
    EXPECT_EQ(record.native_error, 0);
    // The whole record is zeroed, not just the first byte of each text.
    for (const char b : record.message.bytes) ASSERT_EQ(b, '\0');
    SQLFreeHandle(SQL_HANDLE_ENV, env);
}

TEST(AllocateStatement, EmptyOnAConnectionThatIsNotOpen) {
    SQLHENV env = SQL_NULL_HENV;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  SQL_IS_INTEGER);
    DbState db;
    db.env = env;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &db.dbc), SQL_SUCCESS);
    EXPECT_FALSE(AllocateStatement(db));
    SQLFreeHandle(SQL_HANDLE_DBC, db.dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
}

}  // namespace
}  // namespace snp
