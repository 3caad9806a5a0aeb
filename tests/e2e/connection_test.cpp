// The connection and the statement convention in this process, against tdslite through unixODBC
// and FreeTDS.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db/database.h"
#include "support/tdslite_process.h"

namespace {

using testsupport::TdsliteServer;

class Connection : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        testsupport::TdsliteOptions options;
        options.init_sql =
            "CREATE TABLE dbo.T (A varchar(10) NOT NULL)\nGO\n"
            "INSERT INTO dbo.T VALUES ('eins')\nGO\n";
        options.drop_after = 4;  // each connection is closed on its fourth statement
        server_ = TdsliteServer::Start(options);
        if (server_) server_->ApplyOdbcEnvironment();
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override { ASSERT_TRUE(server_) << "tdslite did not start"; }

    int Connect(snp::DbState& db) {
        return snp::ConnectDatabase(db, server_->options().user, server_->options().password,
                                    server_->dsn());
    }
    // Formats, allocates and executes `sql`; the result of the execution.
    static int Execute(snp::DbState& db, const std::string& sql) {
        EXPECT_TRUE(snp::FormatStatement(db, sql, {}));
        snp::StmtHandle stmt = snp::AllocateStatement(db);
        if (!stmt) return -1;
        return snp::ExecuteStatement(db, stmt.get());
    }

    static inline std::unique_ptr<TdsliteServer> server_;
};

TEST_F(Connection, ConnectsAndExecutes) {
    snp::DbState db;
    ASSERT_EQ(Connect(db), 0);
    EXPECT_EQ(Execute(db, "SELECT A FROM dbo.T"), 0);
}

TEST_F(Connection, SecondConnectReplacesTheLiveConnection) {
    snp::DbState db;
    ASSERT_EQ(Connect(db), 0);
    ASSERT_EQ(Execute(db, "SELECT A FROM dbo.T"), 0);
    ASSERT_EQ(Execute(db, "SELECT A FROM dbo.T"), 0);
    // A fresh connection: its statement count starts again, so three more statements pass where
    // the old connection would have been dropped at its fourth.
    ASSERT_EQ(Connect(db), 0);
    EXPECT_EQ(Execute(db, "SELECT A FROM dbo.T"), 0);
    EXPECT_EQ(Execute(db, "SELECT A FROM dbo.T"), 0);
    EXPECT_EQ(Execute(db, "SELECT A FROM dbo.T"), 0);
}

TEST_F(Connection, RefusedLoginFillsTheDiagnosticRecord) {
    snp::DbState db;
    EXPECT_EQ(snp::ConnectDatabase(db, server_->options().user, "falsch", server_->dsn()), -1);
    EXPECT_EQ(db.diag.state.view().size(), 5u);
    EXPECT_FALSE(db.diag.message.empty());
}

TEST_F(Connection, FailedStatementGivesItsNativeErrorAndKeepsTheRecord) {
    snp::DbState db;
    ASSERT_EQ(Connect(db), 0);
    EXPECT_EQ(Execute(db, "SELECT A FROM dbo.Fehlt"), 208);
    EXPECT_EQ(db.diag.native_error, 208);
    EXPECT_EQ(db.diag.state.view(), "42S02");
    EXPECT_NE(db.diag.message.view().find("Fehlt"), std::string::npos);
    const std::string message(db.diag.message.view());
    // A later success keeps the last capture.
    EXPECT_EQ(Execute(db, "SELECT A FROM dbo.T"), 0);
    EXPECT_EQ(db.diag.native_error, 208);
    EXPECT_EQ(db.diag.message.view(), message);
}

TEST_F(Connection, LostConnectionIsNeverSuccess) {
    snp::DbState db;
    ASSERT_EQ(Connect(db), 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Execute(db, "SELECT A FROM dbo.T"), 0);
    // The fourth statement finds the connection closed.
    EXPECT_NE(Execute(db, "SELECT A FROM dbo.T"), 0);
}

}  // namespace
