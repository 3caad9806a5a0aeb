// The paths of a booking through the real converter, unixODBC, FreeTDS and tdslite: the standard
// path with every statement text, each kind of failure and what becomes of the booking, the
// schema switch, canteen bookings, and the run that stops when the badge cursor cannot open.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "conversion_run.h"

// The expected texts keep one column field or one message per line.
// clang-format off
namespace conversion {
namespace {

class ConversionPaths : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = StartServer("conversion_paths.sql"); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        ASSERT_TRUE(server_) << "tdslite did not start";
        server_->ClearStatementLog();
    }
    static inline std::unique_ptr<TdsliteServer> server_;
};

// 30 blanks, the cost centre of a line that has none.
const std::string kNoCostCentre(30, ' ');

TEST_F(ConversionPaths, StandardBookingSendsSevenStatementsAndWritesItsLine) {
    const Conversion run =
        Convert(*server_, "TERM01", Record("1001", "150626", "073012", 'A', "01"));

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.console,
              run.Console("BchFkt:!00001! BchFcd:KO !"
                          "- Leserkostenstelle Empfang f\xFC" "r Leser 01 am Terminal TERM01 "
                          "eingelesen. (Asw: 1001         , dat: 150626, uhr: 073012)\n"
                          "- Personalzuordnung eingelesen. Pnr: 00001001, Dat: 150626, "
                          "Kst-Beziehung: 1, Kst: KST-1001\n"
                          "- Eingelesene Kostenstellenbeziehung von KO lautet 1.\n"
                          "- Entscheidungsmatrix: Pnr: 1, Mld: 1 (1=fix, 2=variabel)\n"));
    EXPECT_EQ(run.output, "WERK1               00001001" "15.06.2026" "07:30" "00001" "KO "
                          "KST-1001                      \r\n");

    const std::vector<std::string> expected = {
        "SELECT  AswPnr, AswLiz, AswMnd  FROM ZENTRALE.Zkv301Asw  WHERE AswNum = '1001'  AND  "
        "( convert(varchar(8), AswGvo, 112) <=   convert( varchar(8),convert(datetime, "
        "'15.06.26', 4), 112)     and  ( convert(varchar(8), AswGbi, 112) >=    "
        "convert(varchar(8),convert(datetime, '15.06.26', 4), 112)     or  AswGbi is Null ))",

        "SELECT  MndSch  FROM ZENTRALE.Zkv112Mnd  WHERE MndLiz= 'L1' AND   MndNum= 'M1' AND   "
        "MndKon = 0 ",

        "SELECT str(FcdTyp, len(FcdTyp)), TtaFcd + replicate(' ', 3-datalength(TtaFcd)),  "
        "COALESCE(FcdTft,0)  FROM   ZENTRALE.O2108Tta, WERK1.Zkv131Fcd  WHERE  TtaNum = (SELECT "
        "TsmTas  FROM ZENTRALE.Zkv114Tsm  WHERE TsmNam = 'TERM01')  AND   TtaPos = '10'  AND  "
        "FcdNum = TtaFcd ",

        "SELECT COALESCE(ZlsKst, '                              ') FROM Zentrale.Zkv401Zls  "
        "WHERE ZlsTrm= 'TERM01' AND  ZlsLes= '01' ",

        "SELECT  COALESCE(ZuoKsb, 0), COALESCE(ZuoKst, '')  FROM   WERK1.Zkv311Zuo  WHERE  "
        "ZuoPnr = '00001001'  AND  (convert(datetime, ZuoGvo, 4) <= convert(datetime, "
        "'15.06.26', 4)  AND  (convert(datetime, ZuoGbi, 4) >= convert(datetime, '15.06.26', 4)  "
        "OR  ZuoGbi is null))",

        "SELECT  COALESCE(FcdKsb, 0)  FROM WERK1.Zkv131Fcd  WHERE FcdNum = 'KO' ",

        "SELECT  'WERK1' +    replicate(' ', 20-datalength( 'WERK1')),   '00001001' + "
        "replicate(' ', 8-datalength('00001001')),   convert(varchar(10),convert(datetime, "
        "'15.06.26', 4), 104),   'KST-1001' +      replicate(' ', 30-datalength('KST-1001')) ",
    };
    EXPECT_EQ(server_->StatementLog(), expected);
}

// One booking per failure a booking can meet, each in a run of its own, so that every message
// shows the diagnostics of its own run.
struct PathCase {
    const char* name;
    std::string record;
    std::string console;  // the messages of the booking
    std::string output;   // its line, or nothing
};

std::vector<PathCase> FailureCases() {
    return {
        {"blank_message_type_dropped_silently", Record("1001", "150626", "073012", ' ', "01"), "",
         ""},
        {"badge_not_found_dropped", Record("9999", "150626", "073012", 'A', "01"),
         "- Der Ausweisnummer (9999         ) konnte keine Personalnummer, Lizenz, Mandant "
         "entnommen werden.\n"
         "AswCursor Fetch: SQLCode: 100\n",
         ""},
        // The empty schema becomes the current one: the client tables are those of dbo.
        {"client_schema_not_found_goes_on_without_schema",
         Record("1005", "150626", "073012", 'A', "01"),
         "- Schemaname konnte der Mandantentabelle nicht entnommen werden:\n"
         "  Liz: L1, Mnd: M5, Kon: 0\n"
         "BchFkt:!00009! BchFcd:KO !- Leserkostenstelle Empfang f\xFC" "r Leser 01 am Terminal "
         "TERM01 eingelesen. (Asw: 1005         , dat: 150626, uhr: 073012)\n"
         "- G\xFC" "ltige Personalzuordnung konnte nicht eingelesen werden. Pnr: 00001005, Datum: "
         "150626, SQL-CODE: 100, SQL-MSG: \n"
         "- Eingelesene Kostenstellenbeziehung von KO lautet 1.\n"
         "- Entscheidungsmatrix: Pnr: 0, Mld: 1 (1=fix, 2=variabel)\n",
         "                    00001005" "15.06.2026" "07:30" "00009" "KO " + kNoCostCentre +
             "\r\n"},
        {"null_client_schema_is_empty_without_message",
         Record("1008", "150626", "073012", 'A', "01"),
         "BchFkt:!00009! BchFcd:KO !- Leserkostenstelle Empfang f\xFC" "r Leser 01 am Terminal "
         "TERM01 eingelesen. (Asw: 1008         , dat: 150626, uhr: 073012)\n"
         "- Personalzuordnung eingelesen. Pnr: 00001008, Dat: 150626, Kst-Beziehung: 1, Kst: "
         "KST-DBO\n"
         "- Eingelesene Kostenstellenbeziehung von KO lautet 1.\n"
         "- Entscheidungsmatrix: Pnr: 1, Mld: 1 (1=fix, 2=variabel)\n",
         "                    00001008" "15.06.2026" "07:30" "00009" "KO "
         "KST-DBO                       \r\n"},
        {"canteen_insert_fails_booking_lost", Record("1007", "150626", "073012", 'K', "01"),
         "Kantinendaten konnten nicht eingepflegt werden.\n"
         "SQL-CODE: 208, SQL-Message: [FreeTDS][SQL Server]Invalid object name "
         "'LEER.Zkv321Kan'.\n",
         ""},
        {"message_type_lookup_fails_dropped", Record("1007", "150626", "073012", 'A', "01"),
         "- Meldungsart /-typ konnten nicht gelesen werden.\n"
         " SQL-CODE: 208, SQL-MESSAGE: [FreeTDS][SQL Server]Invalid object name "
         "'LEER.Zkv131Fcd'.\n",
         ""},
        // A schema name that could change a statement as its prefix is never sent.
        {"schema_name_not_an_identifier_canteen", Record("1009", "150626", "073012", 'K', "01"),
         "Kantinendaten konnten nicht eingepflegt werden.\n"
         "SQL-CODE: -1, SQL-Message: Schemaname 'WERK-7' ist kein g\xFC" "ltiger Bezeichner; die "
         "Anweisung wurde nicht gesendet.\n",
         ""},
        {"schema_name_not_an_identifier_message_type",
         Record("1009", "150626", "073012", 'A', "01"),
         "- Meldungsart /-typ konnten nicht gelesen werden.\n"
         " SQL-CODE: -1, SQL-MESSAGE: Schemaname 'WERK-7' ist kein g\xFC" "ltiger Bezeichner; die "
         "Anweisung wurde nicht gesendet.\n",
         ""},
        // No function for message type H: blank function, no relation, so a variable person
        // keeps the own cost centre.  Person "1234 56" is looked up as 1234.
        {"message_type_not_found_goes_on_blank", Record("1002", "150626", "073012", 'H', "01"),
         "BchFkt:!     ! BchFcd:   !- Leserkostenstelle Empfang f\xFC" "r Leser 01 am Terminal "
         "TERM01 eingelesen. (Asw: 1002         , dat: 150626, uhr: 073012)\n"
         "- Personalzuordnung eingelesen. Pnr: 1234, Dat: 150626, Kst-Beziehung: 2, Kst: "
         "KST-1234\n"
         "- Kostenstellenbeziehung der Meldungsart  konnte nicht eingelesen werden.\n"
         "- Entscheidungsmatrix: Pnr: 2, Mld: 0 (1=fix, 2=variabel)\n",
         "WERK1               1234    " "15.06.2026" "07:30" "     " "   "
         "KST-1234                      \r\n"},
        // The rest of the booking is skipped: the code keeps its blank, the cost centre is blank.
        {"reader_not_found_line_without_cost_centre",
         Record("1001", "150626", "073012", 'A', "09"),
         "BchFkt:!00001! BchFcd:KO !- Kostenstelle konnte dem Leser 09 des Terminals TERM01 "
         "nicht entnommen werden. SQL-CODE: 100, SQL-MESSAGE: \n",
         "WERK1               00001001" "15.06.2026" "07:30" "00001" "KO " + kNoCostCentre +
             "\r\n"},
        // A personnel number that begins with a blank stays whole.
        {"assignment_not_found_blank_cost_centre", Record("1003", "150626", "073012", 'A', "01"),
         "BchFkt:!00001! BchFcd:KO !- Leserkostenstelle Empfang f\xFC" "r Leser 01 am Terminal "
         "TERM01 eingelesen. (Asw: 1003         , dat: 150626, uhr: 073012)\n"
         "- G\xFC" "ltige Personalzuordnung konnte nicht eingelesen werden. Pnr:  1003, Datum: "
         "150626, SQL-CODE: 100, SQL-MSG: \n"
         "- Eingelesene Kostenstellenbeziehung von KO lautet 1.\n"
         "- Entscheidungsmatrix: Pnr: 0, Mld: 1 (1=fix, 2=variabel)\n",
         "WERK1                1003   " "15.06.2026" "07:30" "00001" "KO " + kNoCostCentre +
             "\r\n"},
        {"no_personnel_number_all_messages_no_line",
         Record("1006", "150626", "073012", 'A', "01"),
         "BchFkt:!00001! BchFcd:KO !- Leserkostenstelle Empfang f\xFC" "r Leser 01 am Terminal "
         "TERM01 eingelesen. (Asw: 1006         , dat: 150626, uhr: 073012)\n"
         "- G\xFC" "ltige Personalzuordnung konnte nicht eingelesen werden. Pnr: , Datum: 150626, "
         "SQL-CODE: 100, SQL-MSG: \n"
         "- Eingelesene Kostenstellenbeziehung von KO lautet 1.\n"
         "- Entscheidungsmatrix: Pnr: 0, Mld: 1 (1=fix, 2=variabel)\n",
         ""},
    };
}

TEST_F(ConversionPaths, EachFailureReportedAndBookingHandledAsItsKindRequires) {
    for (const PathCase& c : FailureCases()) {
        SCOPED_TRACE(c.name);
        server_->ClearStatementLog();
        const Conversion run = Convert(*server_, "TERM01", c.record);
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(run.console, run.Console(c.console));
        EXPECT_EQ(run.output, c.output);
        EXPECT_EQ(run.errors, "");
        if (c.console.empty()) {
            EXPECT_TRUE(server_->StatementLog().empty());
        }
    }
}

// The schema prefix of every client-table statement follows the booking's client, also back and
// forth, and a client whose schema is dbo works in VORKANDEL.
TEST_F(ConversionPaths, ClientTablesFollowTheClientOfEachBooking) {
    const Conversion run =
        Convert(*server_, "TERM01",
                Record("1001", "150626", "073012", 'A', "01") +
                    Record("1001", "150626", "080000", 'B', "01") +
                    Record("1004", "150626", "081500", 'A', "01") +
                    Record("1001", "150626", "090000", 'A', "01"));
    EXPECT_EQ(run.exit_status, 0);

    std::vector<std::string> prefixes;
    for (const std::string& statement : server_->StatementLog()) {
        for (const char* table : {".Zkv131Fcd", ".Zkv311Zuo"}) {
            const std::size_t at = statement.find(table);
            if (at == std::string::npos) continue;
            const std::size_t begin = statement.find_last_of(" ,", at) + 1;
            prefixes.push_back(statement.substr(begin, at - begin));
        }
    }
    // Per booking: message type, assignment, relation.
    const std::vector<std::string> expected = {
        "WERK1",     "WERK1",     "WERK1",     "WERK1",     "WERK1",     "WERK1",
        "VORKANDEL", "VORKANDEL", "VORKANDEL", "WERK1",     "WERK1",     "WERK1"};
    EXPECT_EQ(prefixes, expected);

    const std::vector<std::string> lines = Lines(run.output);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, 20), "WERK1               ");
    EXPECT_EQ(lines[1].substr(0, 20), "WERK1               ");
    EXPECT_EQ(lines[2].substr(0, 20), "VORKANDEL           ");
    EXPECT_EQ(lines[2].substr(51), "KST-VORKANDEL                 ");
    EXPECT_EQ(lines[3].substr(0, 20), "WERK1               ");
}

TEST_F(ConversionPaths, CanteenBookingsInsertedIntoTheirClientsTableWithoutLine) {
    const Conversion run =
        Convert(*server_, "TERM01",
                Record("1001", "010226", "074512", 'K', "01", '1') +
                    Record("1006", "150626", "123000", 'K', "02", '0') +  // no personnel number
                    Record("1004", "311299", "235959", 'K', "01", '2'));  // the century stays 20
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.console, run.Console(""));
    EXPECT_EQ(run.output, "");
    const std::vector<std::string> log = server_->StatementLog();  // before reading back
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(),
              "INSERT  INTO VORKANDEL.Zkv321Kan  (KanPor, KanFcd, KanDtm, KanUhr, KanMsk, KanAwn, "
              "KanDat)  VALUES ('01','_K','20991231','2359','K01','1004    ','0000')");

    const std::vector<std::string> werk1 = server_->Query(
        "SELECT KanPor, KanFcd, KanDtm, KanUhr, KanMsk, KanAwn, KanDat FROM WERK1.Zkv321Kan "
        "ORDER BY KanDtm");
    const std::vector<std::string> expected_werk1 = {"01|_K|20260201|0745|K01|1001    |0001",
                                                     "01|_K|20260615|1230|K01|1006    |0000"};
    EXPECT_EQ(werk1, expected_werk1);
    const std::vector<std::string> vorkandel = server_->Query(
        "SELECT KanPor, KanFcd, KanDtm, KanUhr, KanMsk, KanAwn, KanDat FROM VORKANDEL.Zkv321Kan");
    const std::vector<std::string> expected_vorkandel = {"01|_K|20991231|2359|K01|1004    |0000"};
    EXPECT_EQ(vorkandel, expected_vorkandel);
}

TEST_F(ConversionPaths, BadgeCursorFailingToOpenStopsTheRun) {
    // The third booking's date cannot be read by the server, so the badge query fails.
    const Conversion run =
        Convert(*server_, "TERM01",
                Record("1001", "150626", "073012", 'A', "01") +
                    Record("1008", "150626", "073500", 'A', "01") +
                    Record("1001", "319926", "074000", 'A', "01") +
                    Record("1001", "150626", "074500", 'A', "01"));

    EXPECT_EQ(run.exit_status, 0);
    const std::string stop = "- Open auf Datei Zkv301Asw fehlgeschlagen. \n...fertig.";
    ASSERT_GE(run.console.size(), stop.size());
    EXPECT_EQ(run.console.substr(run.console.size() - stop.size()), stop);
    const std::vector<std::string> lines = Lines(run.output);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(20, 8), "00001001");
    EXPECT_EQ(lines[1].substr(20, 8), "00001008");

    // Nothing is sent after the failed badge query: the fourth booking is never read.
    const std::vector<std::string> log = server_->StatementLog();
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.back().find("FROM ZENTRALE.Zkv301Asw"), std::string::npos);
    EXPECT_NE(log.back().find("'31.99.26'"), std::string::npos);
}

}  // namespace
}  // namespace conversion
// clang-format on
