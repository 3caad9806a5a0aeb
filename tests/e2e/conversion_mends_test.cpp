// Faults the converter must not have: values that end their quoted text and change a statement,
// badge validity compared within one century only, NULL columns read as an earlier booking's
// values, and a lost connection read as success or written as a malformed line.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "conversion_run.h"

// The expected texts keep one column field or one message per line.
// clang-format off
namespace conversion {
namespace {

class ConversionMends : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = StartServer("conversion_mends.sql"); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        ASSERT_TRUE(server_) << "tdslite did not start";
        server_->ClearStatementLog();
    }
    static inline std::unique_ptr<TdsliteServer> server_;

    static bool Sent(const std::string& text) {
        for (const std::string& statement : server_->StatementLog()) {
            if (statement.find(text) != std::string::npos) return true;
        }
        return false;
    }
};

TEST_F(ConversionMends, SingleQuotesInValuesStayInsideTheirText) {
    // Terminal, badge, reader and cost centre carry quotes; two badges try to change the badge
    // query; one canteen booking carries a quote into the insert.
    const Conversion run =
        Convert(*server_, "TERM'01",
                Record("O'1", "150626", "080000", 'A', "'1") +
                    Record("' OR 1=1 --", "150626", "080100", 'A', "01") +
                    Record("12'; DELETE F", "150626", "080200", 'A', "01") +
                    Record("O'1", "150626", "080300", 'K', "01", '1') +
                    Record("1001", "150626", "080400", 'A', "01"));

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.console,
              run.Console(
                  "BchFkt:!00001! BchFcd:KO !- Leserkostenstelle Tor 'Nord' f\xFC" "r Leser '1 am "
                  "Terminal TERM'01 eingelesen. (Asw: O'1          , dat: 150626, uhr: 080000)\n"
                  "- Personalzuordnung eingelesen. Pnr: 00003001, Dat: 150626, Kst-Beziehung: 2, "
                  "Kst: Lager 'Nord'\n"
                  "- Eingelesene Kostenstellenbeziehung von KO lautet 1.\n"
                  "- Entscheidungsmatrix: Pnr: 2, Mld: 1 (1=fix, 2=variabel)\n"
                  "- Der Ausweisnummer (' OR 1=1 --  ) konnte keine Personalnummer, Lizenz, "
                  "Mandant entnommen werden.\n"
                  "AswCursor Fetch: SQLCode: 100\n"
                  "- Der Ausweisnummer (12'; DELETE F) konnte keine Personalnummer, Lizenz, "
                  "Mandant entnommen werden.\n"
                  "AswCursor Fetch: SQLCode: 100\n"
                  "BchFkt:!00001! BchFcd:KO !- Leserkostenstelle Empfang f\xFC" "r Leser 01 am "
                  "Terminal TERM'01 eingelesen. (Asw: 1001         , dat: 150626, uhr: 080400)\n"
                  "- Personalzuordnung eingelesen. Pnr: 00001001, Dat: 150626, Kst-Beziehung: 1, "
                  "Kst: KST-1001\n"
                  "- Eingelesene Kostenstellenbeziehung von KO lautet 1.\n"
                  "- Entscheidungsmatrix: Pnr: 1, Mld: 1 (1=fix, 2=variabel)\n"));
    EXPECT_EQ(run.output,
              "WERK1               00003001" "15.06.2026" "08:00" "00001" "KO "
              "Tor 'Nord'                    \r\n"
              "WERK1               00001001" "15.06.2026" "08:04" "00001" "KO "
              "KST-1001                      \r\n");

    EXPECT_TRUE(Sent("WHERE AswNum = 'O''1'  AND"));
    EXPECT_TRUE(Sent("WHERE AswNum = ''' OR 1=1 --'  AND"));
    EXPECT_TRUE(Sent("WHERE AswNum = '12''; DELETE F'  AND"));
    EXPECT_TRUE(Sent("WHERE TsmNam = 'TERM''01')"));
    EXPECT_TRUE(Sent("WHERE ZlsTrm= 'TERM''01' AND  ZlsLes= '''1' "));
    EXPECT_TRUE(Sent("'Tor ''Nord''' +      replicate(' ', 30-datalength('Tor ''Nord''')) "));
    EXPECT_EQ(server_->Query("SELECT COUNT(*) FROM ZENTRALE.Zkv301Asw"),
              std::vector<std::string>{"7"});
    EXPECT_EQ(server_->Query("SELECT KanDtm, KanUhr, KanAwn, KanDat FROM WERK1.Zkv321Kan"),
              std::vector<std::string>{"20260615|0803|O'1     |0001"});
}

TEST_F(ConversionMends, BadgeValidityComparesWholeDates) {
    const Conversion run =
        Convert(*server_, "TERM'01",
                Record("4001", "150626", "080000", 'A', "01") +   // valid since 1998
                    Record("4002", "150626", "080100", 'A', "01") +   // expired end of 2025
                    Record("4003", "311299", "080200", 'A', "01"));  // issued only in 2020

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.console,
              run.Console(
                  "BchFkt:!00001! BchFcd:KO !- Leserkostenstelle Empfang f\xFC" "r Leser 01 am "
                  "Terminal TERM'01 eingelesen. (Asw: 4001         , dat: 150626, uhr: 080000)\n"
                  "- Personalzuordnung eingelesen. Pnr: 00004001, Dat: 150626, Kst-Beziehung: 1, "
                  "Kst: KST-4001\n"
                  "- Eingelesene Kostenstellenbeziehung von KO lautet 1.\n"
                  "- Entscheidungsmatrix: Pnr: 1, Mld: 1 (1=fix, 2=variabel)\n"
                  "- Der Ausweisnummer (4002         ) konnte keine Personalnummer, Lizenz, "
                  "Mandant entnommen werden.\n"
                  "AswCursor Fetch: SQLCode: 100\n"
                  "- Der Ausweisnummer (4003         ) konnte keine Personalnummer, Lizenz, "
                  "Mandant entnommen werden.\n"
                  "AswCursor Fetch: SQLCode: 100\n"));
    EXPECT_EQ(run.output, "WERK1               00004001" "15.06.2026" "08:00" "00001" "KO "
                          "KST-4001                      \r\n");
}

TEST_F(ConversionMends, NullBadgeColumnsArriveEmptyNotAsTheLastBookingsValues) {
    const Conversion run =
        Convert(*server_, "TERM'01",
                Record("1001", "150626", "080000", 'A', "01") +
                    Record("5001", "150626", "080100", 'A', "01") +   // no personnel number
                    Record("5002", "150626", "080200", 'A', "01"));  // no licence, no client

    EXPECT_EQ(run.exit_status, 0);
    // 5001 is looked up without a person and gets no line; 5002 finds no client and goes on
    // without schema, so its client tables are those of dbo.
    EXPECT_NE(run.console.find("- G\xFC" "ltige Personalzuordnung konnte nicht eingelesen werden. "
                               "Pnr: , Datum: 150626, SQL-CODE: 100, SQL-MSG: \n"),
              std::string::npos);
    EXPECT_NE(run.console.find("- Schemaname konnte der Mandantentabelle nicht entnommen werden:\n"
                               "  Liz: , Mnd: , Kon: 0\n"),
              std::string::npos);
    EXPECT_TRUE(Sent("WHERE MndLiz= '' AND   MndNum= '' AND"));
    EXPECT_EQ(run.output,
              "WERK1               00001001" "15.06.2026" "08:00" "00001" "KO "
              "KST-1001                      \r\n"
              "                    00005002" "15.06.2026" "08:02" "00001" "KO "
              "                              \r\n");
}

// The connection goes down while the first of two bookings is converted: every statement of that
// booking from then on is reported with a non-zero code, no line is written from unformatted
// fields, the second booking cannot open the badge cursor, and the run ends normally.
struct DropCase {
    const char* name;
    int drop_after;        // the statement on which tdslite closes the connection
    std::string console;   // what the first booking reports
};

TEST(ConversionDroppedConnection, ReportedWithoutSuccessOrMalformedLine) {
    const std::string eof = "[FreeTDS][SQL Server]Unexpected EOF from the server";
    const std::string link = "[FreeTDS][SQL Server]Communication link failure";
    const std::vector<DropCase> cases = {
        {"on_the_reader_lookup", 4,
         "BchFkt:!00001! BchFcd:KO !- Kostenstelle konnte dem Leser 01 des Terminals TERM01 "
         "nicht entnommen werden. SQL-CODE: 20017, SQL-MESSAGE: " + eof + "\n"
         "- Ausgabezeile konnte nicht aufbereitet werden und wird nicht geschrieben. (Asw: "
         "1001         , dat: 150626, uhr: 073012) SQL-CODE: -1, SQL-MESSAGE: " + link + "\n"},
        {"on_the_assignment_lookup", 5,
         "BchFkt:!00001! BchFcd:KO !- Leserkostenstelle Empfang f\xFC" "r Leser 01 am Terminal "
         "TERM01 eingelesen. (Asw: 1001         , dat: 150626, uhr: 073012)\n"
         "- G\xFC" "ltige Personalzuordnung konnte nicht eingelesen werden. Pnr: 00001001, Datum: "
         "150626, SQL-CODE: 20017, SQL-MSG: " + eof + "\n"
         "- Kostenstellenbeziehung der Meldungsart KO konnte nicht eingelesen werden.\n"
         "- Entscheidungsmatrix: Pnr: 0, Mld: 0 (1=fix, 2=variabel)\n"
         "- Ausgabezeile konnte nicht aufbereitet werden und wird nicht geschrieben. (Asw: "
         "1001         , dat: 150626, uhr: 073012) SQL-CODE: -1, SQL-MESSAGE: " + link + "\n"},
        {"on_the_formatting_query", 7,
         "BchFkt:!00001! BchFcd:KO !- Leserkostenstelle Empfang f\xFC" "r Leser 01 am Terminal "
         "TERM01 eingelesen. (Asw: 1001         , dat: 150626, uhr: 073012)\n"
         "- Personalzuordnung eingelesen. Pnr: 00001001, Dat: 150626, Kst-Beziehung: 1, Kst: "
         "KST-1001\n"
         "- Eingelesene Kostenstellenbeziehung von KO lautet 1.\n"
         "- Entscheidungsmatrix: Pnr: 1, Mld: 1 (1=fix, 2=variabel)\n"
         "- Ausgabezeile konnte nicht aufbereitet werden und wird nicht geschrieben. (Asw: "
         "1001         , dat: 150626, uhr: 073012) SQL-CODE: 20017, SQL-MESSAGE: " + eof + "\n"},
    };
    for (const DropCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<TdsliteServer> server =
            StartServer("conversion_paths.sql", c.drop_after);
        ASSERT_TRUE(server) << "tdslite did not start";
        const Conversion run = Convert(*server, "TERM01",
                                       Record("1001", "150626", "073012", 'A', "01") +
                                           Record("1001", "150626", "080000", 'A', "01"));
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(run.console,
                  run.Console(c.console + "- Open auf Datei Zkv301Asw fehlgeschlagen. \n"));
        EXPECT_EQ(run.output, "");
    }
}

}  // namespace
}  // namespace conversion
// clang-format on
