// The badge cursor in this process, against tdslite through unixODBC and FreeTDS, with badge
// numbers longer than an upload record can carry: whatever the caller passes stays inside the
// quoted text of the badge query.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/database.h"
#include "support/tdslite_process.h"

namespace {

using testsupport::TdsliteServer;

class BadgeCursor : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        testsupport::TdsliteOptions options;
        options.init_sql =
            "CREATE SCHEMA ZENTRALE\nGO\n"
            "CREATE TABLE ZENTRALE.Zkv301Asw (AswNum varchar(13) NOT NULL, AswPnr char(8) NULL, "
            "AswLiz char(5) NULL, AswMnd char(5) NULL, AswGvo datetime NOT NULL, "
            "AswGbi datetime NULL)\nGO\n"
            "INSERT INTO ZENTRALE.Zkv301Asw VALUES ('12', '00000012', 'L1', 'M1', '19980301', "
            "NULL), ('13', '00000013', 'L1', 'M1', '20200101', NULL)\nGO\n";
        server_ = TdsliteServer::Start(options);
        if (server_) server_->ApplyOdbcEnvironment();
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        ASSERT_TRUE(server_) << "tdslite did not start";
        ASSERT_EQ(snp::ConnectDatabase(db_, server_->options().user, server_->options().password,
                                       server_->dsn()),
                  0);
    }

    // Opens, fetches once and closes, as a booking does; the fetch result.
    int Lookup(const std::string& badge, const std::string& date) {
        if (snp::OpenAswCursor(db_, badge, date) != 0) return -99;
        const int rc = snp::FetchAswCursor(db_, pnr_, licence_, client_);
        snp::CloseAswCursor(db_);
        return rc;
    }

    static inline std::unique_ptr<TdsliteServer> server_;
    snp::DbState db_;
    snp::Field<9> pnr_;
    snp::Field<6> licence_;
    snp::Field<6> client_;
};

TEST_F(BadgeCursor, ValuesThatTryToEndTheQuotedTextFindNobodyAndChangeNothing) {
    const std::vector<std::string> badges = {
        "12'; DELETE FROM ZENTRALE.Zkv301Asw --",
        "12' OR '1'='1",
        "' OR 'x'='x",
    };
    for (const std::string& badge : badges) {
        SCOPED_TRACE(badge);
        EXPECT_EQ(Lookup(badge, "011226"), SQL_NO_DATA);
        EXPECT_EQ(server_->Query("SELECT COUNT(*) FROM ZENTRALE.Zkv301Asw"),
                  std::vector<std::string>{"2"});
    }
    EXPECT_NE(db_.statement.text().find(
                  "WHERE AswNum = ''' OR ''x''=''x'  AND  ( convert(varchar(8), AswGvo, 112)"),
              std::string::npos)
        << db_.statement.text();
}

TEST_F(BadgeCursor, ValidityIsComparedAsWholeDates) {
    // Valid since 1998: found for a booking in 2026, and not for one in 1997.
    ASSERT_EQ(Lookup("12", "011226"), 0);
    EXPECT_EQ(pnr_.view(), "00000012");
    EXPECT_EQ(Lookup("12", "311297"), SQL_NO_DATA);
}

}  // namespace
