// The converter's statement texts, exactly as it sends them (values substituted), against a tiny
// fixture of the tables they read and write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_harness.h"

namespace {

using enginetest::ShowMessage;
using tdslite::SqlType;
using Strings = std::vector<std::string>;

const std::string kBlanks30(30, ' ');

class ConverterStatements : public enginetest::EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        Exec(
            "CREATE SCHEMA ZENTRALE\n"
            "CREATE SCHEMA WERK1\n"
            "CREATE TABLE ZENTRALE.Zkv301Asw (AswNum varchar(13) NOT NULL, AswPnr char(8) NULL, "
            "AswLiz char(5) NULL,\n"
            "    AswMnd char(5) NULL, AswGvo datetime NOT NULL, AswGbi datetime NULL)\n"
            "CREATE TABLE ZENTRALE.Zkv112Mnd (MndLiz char(5) NOT NULL, MndNum char(5) NOT NULL, "
            "MndKon int NOT NULL,\n"
            "    MndSch varchar(20) NULL)\n"
            "CREATE TABLE ZENTRALE.Zkv114Tsm (TsmNam varchar(10) NOT NULL, TsmTas int NOT NULL)\n"
            "CREATE TABLE ZENTRALE.O2108Tta (TtaNum int NOT NULL, TtaPos varchar(2) NOT NULL, "
            "TtaFcd varchar(3) NULL)\n"
            "CREATE TABLE ZENTRALE.Zkv401Zls (ZlsTrm varchar(10) NOT NULL, ZlsLes char(2) NOT "
            "NULL, ZlsKst char(30) NULL)\n"
            "CREATE TABLE WERK1.Zkv131Fcd (FcdNum varchar(3) NOT NULL, FcdTyp smallint NULL, "
            "FcdTft int NULL, FcdKsb int NULL)\n"
            "CREATE TABLE WERK1.Zkv311Zuo (ZuoPnr char(8) NOT NULL, ZuoGvo datetime NOT NULL, "
            "ZuoGbi datetime NULL,\n"
            "    ZuoKsb int NULL, ZuoKst varchar(30) NULL)\n"
            "CREATE TABLE WERK1.Zkv321Kan (KanPor char(2) NOT NULL, KanFcd char(2) NOT NULL, "
            "KanDtm char(8) NOT NULL,\n"
            "    KanUhr char(4) NOT NULL, KanMsk char(3) NOT NULL, KanAwn char(8) NOT NULL, KanDat "
            "char(4) NOT NULL)\n");
        Exec(
            "INSERT INTO ZENTRALE.Zkv301Asw VALUES ('1001', '4711', 'L1', 'M1', '20030101', "
            "NULL),\n"
            "    ('1001', '4000', 'L1', 'M1', '19990101', '20021231'), ('1002', '4712', 'L2', "
            "'M2', '20000101', '20001231')\n"
            "INSERT INTO ZENTRALE.Zkv112Mnd VALUES ('L1', 'M1', 0, 'WERK1'), ('L1', 'M1', 1, "
            "'OTHER'), ('L2', 'M2', 0, 'dbo')\n"
            "INSERT INTO ZENTRALE.Zkv114Tsm VALUES ('TERM1', 10), ('TWICE', 20), ('TWICE', 21)\n"
            "INSERT INTO ZENTRALE.O2108Tta VALUES (10, 'K', 'KO'), (10, 'G', 'G'), (20, 'K', "
            "'KO'), (21, 'K', 'KO')\n"
            "INSERT INTO ZENTRALE.Zkv401Zls VALUES ('TERM1', '01', 'KST1'), ('TERM1', '02', NULL)\n"
            "INSERT INTO WERK1.Zkv131Fcd VALUES ('KO', 7, 3, 1), ('G', -9, NULL, NULL)\n"
            "INSERT INTO WERK1.Zkv311Zuo VALUES ('4711', '20020101', NULL, 2, 'KST-A  '),\n"
            "    ('4712', '19990101', '20021231', NULL, NULL)\n");
    }

    static std::string Badge(const std::string& badge, const std::string& date, bool century) {
        const std::string n = century ? "8" : "6";
        const std::string style = century ? "112" : "12";
        return "SELECT  AswPnr, AswLiz, AswMnd  FROM ZENTRALE.Zkv301Asw  WHERE AswNum = '" + badge +
               "'  AND  ( convert(varchar(" + n + "), AswGvo, " + style +
               ") <=   convert( varchar(" + n + "),convert(datetime, '" + date + "', 4), " + style +
               ")     and  ( convert(varchar(" + n + "), AswGbi, " + style +
               ") >=    convert(varchar(" + n + "),convert(datetime, '" + date + "', 4), " + style +
               ")     or  AswGbi is Null ))";
    }

    static std::string Format(const std::string& schema, const std::string& pnr,
                              const std::string& date, const std::string& cost_centre) {
        return "SELECT  '" + schema + "' +    replicate(' ', 20-datalength( '" + schema +
               "')),   '" + pnr + "' + replicate(' ', 8-datalength('" + pnr +
               "')),   convert(varchar(10),convert(datetime, '" + date + "', 4), 104),   '" +
               cost_centre + "' +      replicate(' ', 30-datalength('" + cost_centre + "')) ";
    }
};

TEST_F(ConverterStatements, BadgeCursorFindsThePersonOfTheBookingDate) {
    EXPECT_EQ(Rows(Badge("1001", "01.02.03", false)), Strings{"'4711    '|'L1   '|'M1   '"});
    EXPECT_EQ(Rows(Badge("1002", "01.02.03", false)), Strings{});
    EXPECT_EQ(Rows(Badge("1002", "30.06.00", false)), Strings{"'4712    '|'L2   '|'M2   '"});
    EXPECT_EQ(Rows(Badge("9999", "01.02.03", false)), Strings{});
    // yymmdd texts compare within one century only: in 1999 they pick the row valid from 2003
    // and miss the one valid until 2002.  The yyyymmdd form (style 112) finds the right person.
    EXPECT_EQ(Rows(Badge("1001", "15.06.99", false)), Strings{"'4711    '|'L1   '|'M1   '"});
    EXPECT_EQ(Rows(Badge("1001", "15.06.99", true)), Strings{"'4000    '|'L1   '|'M1   '"});
    EXPECT_EQ(Rows(Badge("1001", "01.02.03", true)), Strings{"'4711    '|'L1   '|'M1   '"});
    EXPECT_EQ(
        Errors(Badge("1001", "ab.cd.ef", false)),
        Strings{
            "241 16 1: Conversion failed when converting date and/or time from character string."});
    EXPECT_EQ(Errors(Badge("9999", "31.02.03", true)).at(0).substr(0, 4), "242 ");
}

TEST_F(ConverterStatements, MasterDataLookups) {
    EXPECT_EQ(Rows("SELECT  MndSch  FROM ZENTRALE.Zkv112Mnd  WHERE MndLiz= 'L1' AND   MndNum= 'M1' "
                   "AND   MndKon = 0 "),
              Strings{"'WERK1'"});

    const std::string message_type =
        "SELECT str(FcdTyp, len(FcdTyp)), TtaFcd + replicate(' ', 3-datalength(TtaFcd)),  "
        "COALESCE(FcdTft,0)  "
        "FROM   ZENTRALE.O2108Tta, %s.Zkv131Fcd  WHERE  TtaNum = (SELECT TsmTas  FROM "
        "ZENTRALE.Zkv114Tsm  "
        "WHERE TsmNam = '%t')  AND   TtaPos = '%p'  AND  FcdNum = TtaFcd ";
    auto fill = [&message_type](const std::string& schema, const std::string& terminal,
                                const std::string& pos) {
        std::string s = message_type;
        s.replace(s.find("%s"), 2, schema);
        s.replace(s.find("%t"), 2, terminal);
        s.replace(s.find("%p"), 2, pos);
        return s;
    };
    EXPECT_EQ(Rows(fill("WERK1", "TERM1", "K")), Strings{"'7'|'KO '|3"});
    EXPECT_EQ(Rows(fill("werk1", "term1", "g")), Strings{"'-9'|'G  '|0"});
    EXPECT_EQ(Rows(fill("WERK1", "NONE", "K")), Strings{});
    EXPECT_EQ(Errors(fill("WERK1", "TWICE", "K")).at(0).substr(0, 4), "512 ");
    EXPECT_EQ(Errors(fill("", "TERM1", "K")),
              Strings{"208 16 1: Invalid object name '.Zkv131Fcd'."});
    Exec(
        "CREATE TABLE Zkv131Fcd (FcdNum varchar(3) NOT NULL, FcdTyp smallint NULL, FcdTft int "
        "NULL, FcdKsb int NULL)");
    Exec("INSERT INTO dbo.Zkv131Fcd VALUES ('KO', 123, NULL, 2)");
    EXPECT_EQ(Rows(fill("", "TERM1", "K")), Strings{"'123'|'KO '|0"});

    const std::string reader =
        "SELECT COALESCE(ZlsKst, '" + kBlanks30 +
        "') FROM Zentrale.Zkv401Zls  WHERE ZlsTrm= 'TERM1' AND  ZlsLes= '%r' ";
    auto reader_for = [&reader](const std::string& r) {
        std::string s = reader;
        s.replace(s.find("%r"), 2, r);
        return s;
    };
    EXPECT_EQ(Rows(reader_for("01")), Strings{"'KST1" + std::string(26, ' ') + "'"});
    EXPECT_EQ(Rows(reader_for("02")), Strings{"'" + kBlanks30 + "'"});
    EXPECT_EQ(Rows(reader_for("03")), Strings{});

    auto assignment = [](const std::string& pnr, const std::string& date) {
        return "SELECT  COALESCE(ZuoKsb, 0), COALESCE(ZuoKst, '')  FROM   WERK1.Zkv311Zuo  WHERE  "
               "ZuoPnr = '" +
               pnr + "'  AND  (convert(datetime, ZuoGvo, 4) <= convert(datetime, '" + date +
               "', 4)  AND  (convert(datetime, ZuoGbi, 4) >= convert(datetime, '" + date +
               "', 4)  OR  ZuoGbi is null))";
    };
    EXPECT_EQ(Rows(assignment("4711", "01.02.03")), Strings{"2|'KST-A  '"});
    EXPECT_EQ(Rows(assignment("4711", "31.12.01")), Strings{});
    EXPECT_EQ(Rows(assignment("4712", "31.12.99")), Strings{"0|''"});
    const auto types = One(assignment("4711", "01.02.03"));
    ASSERT_EQ(types.columns.size(), 2u);
    EXPECT_EQ(types.columns[0].type, SqlType::Int);
    EXPECT_EQ(types.columns[1].type, SqlType::VarChar);

    EXPECT_EQ(Rows("SELECT  COALESCE(FcdKsb, 0)  FROM WERK1.Zkv131Fcd  WHERE FcdNum = 'KO' "),
              Strings{"1"});
    EXPECT_EQ(Rows("SELECT  COALESCE(FcdKsb, 0)  FROM WERK1.Zkv131Fcd  WHERE FcdNum = 'G' "),
              Strings{"0"});
    EXPECT_EQ(Rows("SELECT  COALESCE(FcdKsb, 0)  FROM WERK1.Zkv131Fcd  WHERE FcdNum = '' "),
              Strings{});
}

TEST_F(ConverterStatements, CanteenInsertGoesToTheNamedOrTheDefaultSchema) {
    const std::string columns =
        "  (KanPor, KanFcd, KanDtm, KanUhr, KanMsk, KanAwn, KanDat)  VALUES (";
    const std::string values = "'01','_K','20991231','1230','K01','1234    ','0001')";
    const auto ok = One("INSERT  INTO WERK1.Zkv321Kan" + columns + values);
    EXPECT_FALSE(ok.failed);
    EXPECT_TRUE(ok.count_valid);
    EXPECT_EQ(ok.row_count, 1);
    EXPECT_EQ(
        Rows("SELECT KanPor, KanFcd, KanDtm, KanUhr, KanMsk, KanAwn, KanDat FROM werk1.zkv321kan"),
        Strings{"'01'|'_K'|'20991231'|'1230'|'K01'|'1234    '|'0001'"});

    EXPECT_EQ(Errors("INSERT  INTO .Zkv321Kan" + columns + values),
              Strings{"208 16 1: Invalid object name '.Zkv321Kan'."});
    Exec(
        "CREATE TABLE dbo.Zkv321Kan (KanPor char(2) NOT NULL, KanFcd char(2) NOT NULL, KanDtm "
        "char(8) NOT NULL,"
        " KanUhr char(4) NOT NULL, KanMsk char(3) NOT NULL, KanAwn char(4) NOT NULL, KanDat "
        "char(4) NOT NULL)");
    Exec("INSERT  INTO .Zkv321Kan" + columns + values);  // the blanks beyond char(4) are dropped
    EXPECT_EQ(Rows("SELECT KanAwn FROM Zkv321Kan"), Strings{"'1234'"});
    EXPECT_EQ(Errors("INSERT  INTO .Zkv321Kan" + columns +
                     "'01','_K','20991231','1230','K01','12345678','0001')"),
              (Strings{"8152 16 14: String or binary data would be truncated.",
                       "3621 0 0: The statement has been terminated."}));
}

TEST_F(ConverterStatements, FormattingQueryPadsAndConvertsTheDate) {
    const auto r = One(Format("WERK1", "4711", "01.02.03", ""));
    ASSERT_FALSE(r.failed);
    ASSERT_EQ(r.columns.size(), 4u);
    const int lengths[] = {20, 8, 10, 30};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(r.columns[i].type, SqlType::VarChar);
        EXPECT_EQ(r.columns[i].length, lengths[i]);
        EXPECT_EQ(r.columns[i].name, "");
    }
    struct Case {
        std::string schema, pnr, date, cost_centre;
        std::string row;
    };
    const std::string s20 = "ABCDEFGHIJKLMNOPQRST";
    const Case cases[] = {
        {"WERK1", "4711", "01.02.03", "",
         "'WERK1               '|'4711    '|'01.02.2003'|'" + kBlanks30 + "'"},
        {"VORKANDEL", "12345678", "31.12.99", " ",
         "'VORKANDEL           '|'12345678'|'31.12.1999'|'" + kBlanks30 + "'"},
        {s20, "1", "29.02.04", "KST",
         "'" + s20 + "'|'1       '|'29.02.2004'|'KST" + std::string(27, ' ') + "'"},
        {s20 + "U", "123456789", "1.1.50", std::string(31, 'k'), "NULL|NULL|'01.01.1950'|NULL"},
        {"O''BRIEN", "4711", "01.02.03", "",
         "'O'BRIEN             '|'4711    '|'01.02.2003'|'" + kBlanks30 + "'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.schema);
        EXPECT_EQ(Rows(Format(c.schema, c.pnr, c.date, c.cost_centre)), Strings{c.row});
    }
    EXPECT_EQ(Errors(Format("WERK1", "4711", "ab.cd.ef", "")).at(0).substr(0, 4), "241 ");
    // An unescaped quote in a value breaks the statement.
    EXPECT_EQ(Errors(Format("O'BRIEN", "4711", "01.02.03", "")).at(0).substr(0, 4), "102 ");
}

}  // namespace
