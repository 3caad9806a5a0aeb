// The engine's semantics as statement -> rows or statement -> messages: comparisons, char
// padding, functions, conversions between strings and numbers, subqueries, names, the errors of
// INSERT/UPDATE, batches and result metadata.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine_harness.h"
#include "support/tdslite_process.h"

namespace {

using enginetest::EngineTest;
using enginetest::ShowMessage;
using tdslite::SqlType;

using Strings = std::vector<std::string>;

constexpr const char* kTerminated = "3621 0 0: The statement has been terminated.";
constexpr const char* kTruncated = "8152 16 14: String or binary data would be truncated.";

TEST_F(EngineTest, ComparisonsIgnoreCaseAndTrailingBlanksButNotAccentsOrLeadingBlanks) {
    struct Case {
        const char* predicate;
        bool holds;
    };
    const Case cases[] = {
        {"'abc' = 'abc   '", true},
        {"'ABC' = 'abc'", true},
        {"'a' <> 'A '", false},
        {"'abc' < 'ABD'", true},
        {"' abc' = 'abc'", false},
        {"'abc' = 'abcd'", false},
        {"'\xE9' = 'e'", false},                  // é is not e
        {"'\xE9' = '\xC9'", true},                // é is É
        {"'\xFC' = '\xDC'", true},                // ü is Ü
        {"'e' < '\xE9' AND '\xE9' < 'f'", true},  // accents sort next to their letter
        {"'a\x01' < 'a'", true},                  // the shorter side counts as blank-padded
        {"'991231' <= '030201'", false},          // yymmdd texts compare as texts
        {"'10' = 10", true},                      // the string is converted to int
        {"' 10 ' = 10", true},
        {"'' = 0", true},
        {"NULL = NULL", false},
        {"NOT (NULL = 1)", false},
        {"NULL IS NULL", true},
        {"1 IS NOT NULL", true},
        {"1 = 1 OR NULL = 1", true},
        {"NOT (1 = 2 AND 1 = 1)", true},
        {"(1 = 1 OR 1 = 2) AND NOT 2 <> 2", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.predicate);
        EXPECT_EQ(Rows(std::string("SELECT 1 WHERE ") + c.predicate).size(), c.holds ? 1u : 0u);
    }
}

TEST_F(EngineTest, KeyLookupsAndUniquenessFollowTheCollation) {
    Exec("CREATE TABLE k (name varchar(10) NOT NULL PRIMARY KEY, code char(4) NULL, n int NULL)");
    Exec("INSERT INTO k VALUES ('abc', 'x', 1), ('M\xFCller', 'y', 2)");
    EXPECT_EQ(Rows("SELECT n FROM k WHERE name = 'ABC  '"), Strings{"1"});
    EXPECT_EQ(Rows("SELECT n FROM k WHERE name = 'M\xDCLLER'"), Strings{"2"});
    EXPECT_EQ(Rows("SELECT n FROM k WHERE name = 'Muller'"), Strings{});
    EXPECT_EQ(Rows("SELECT n FROM k WHERE code = 'X'"), Strings{"1"});
    EXPECT_EQ(Errors("INSERT INTO k VALUES ('ABC ', 'z', 3)")[0].substr(0, 5), "2627 ");

    // A column that is not a key gets an index once lookups scan many rows; the answers stay
    // those of the collation before and after.
    std::string insert = "INSERT INTO k VALUES ";
    for (int i = 0; i < 2500; ++i) {
        insert += (i ? ", " : "") + std::string("('r") + std::to_string(i) + "', 'c" +
                  std::to_string(i % 97) + "', " + std::to_string(i) + ")";
    }
    Exec(insert);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(Rows("SELECT name FROM k WHERE code = 'C96 ' AND n < 200"),
                  (Strings{"'r96'", "'r193'"}));
        EXPECT_EQ(Rows("SELECT name FROM k WHERE n = 2400"), Strings{"'r2400'"});
    }
}

TEST_F(EngineTest, CharValuesAreStoredPaddedAndVarcharKeepsItsBlanks) {
    Exec("CREATE TABLE t (c char(5) NULL, v varchar(5) NULL)");
    Exec(
        "INSERT INTO t VALUES ('ab', 'ab'), ('ab  ', 'ab  '), ('', ''), ('abcde     ', 'abcde   "
        "')");
    EXPECT_EQ(Rows("SELECT c, v, DATALENGTH(c), DATALENGTH(v), LEN(c), LEN(v) FROM t"),
              (Strings{"'ab   '|'ab'|5|2|2|2", "'ab   '|'ab  '|5|4|2|2", "'     '|''|5|0|0|0",
                       "'abcde'|'abcde'|5|5|5|5"}));
    // The padding pattern of the message-type lookup: char(n) is already full, varchar is filled.
    EXPECT_EQ(
        Rows("SELECT c + REPLICATE('.', 5 - DATALENGTH(c)), v + REPLICATE('.', 5 - DATALENGTH(v)) "
             "FROM t"),
        (Strings{"'ab   '|'ab...'", "'ab   '|'ab  .'", "'     '|'.....'", "'abcde'|'abcde'"}));
}

TEST_F(EngineTest, TooLongValuesAreRefusedButTrailingBlanksAreCutSilently) {
    Exec("CREATE TABLE t (c char(4) NULL, v varchar(4) NULL, w varchar(8) NULL)");
    struct Case {
        const char* values;
        bool refused;
        const char* stored;
    };
    const Case cases[] = {
        {"('1234    ', NULL, NULL)", false, "'1234'|NULL|NULL"},
        {"(NULL, '1234    ', '1234    ')", false, "NULL|'1234'|'1234    '"},
        {"('12345', NULL, NULL)", true, ""},
        {"(NULL, '1234 x', NULL)", true, ""},
        {"(NULL, NULL, 'abcdefghi')", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.values);
        Exec("DELETE FROM t");
        if (c.refused) {
            EXPECT_EQ(Errors(std::string("INSERT INTO t VALUES ") + c.values),
                      (Strings{kTruncated, kTerminated}));
            EXPECT_EQ(Rows("SELECT COUNT(*) FROM t"), Strings{"0"});
        } else {
            Exec(std::string("INSERT INTO t VALUES ") + c.values);
            EXPECT_EQ(Rows("SELECT c, v, w FROM t"), Strings{c.stored});
        }
    }
    // One bad row refuses the whole statement; UPDATE refuses the same way.
    EXPECT_EQ(Errors("INSERT INTO t (c) VALUES ('a'), ('b'), ('ccccc')"),
              (Strings{kTruncated, kTerminated}));
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM t"), Strings{"0"});
    Exec("INSERT INTO t (c) VALUES ('a')");
    EXPECT_EQ(Errors("UPDATE t SET c = 'abcde'"), (Strings{kTruncated, kTerminated}));
    EXPECT_EQ(Rows("SELECT c FROM t"), Strings{"'a   '"});
}

TEST_F(EngineTest, NullIntoNotNullColumnIs515) {
    Exec("CREATE TABLE Kan (KanPor char(2) NOT NULL, KanDat char(4) NULL)");
    const std::string insert_error =
        "515 16 2: Cannot insert the value NULL into column 'KanPor', table 'master.dbo.Kan'; "
        "column "
        "does not allow nulls. INSERT fails.";
    EXPECT_EQ(Errors("INSERT INTO Kan VALUES (NULL, '0001')"),
              (Strings{insert_error, kTerminated}));
    EXPECT_EQ(Errors("INSERT INTO Kan (KanDat) VALUES ('0001')"),
              (Strings{insert_error, kTerminated}));
    Exec("INSERT INTO Kan VALUES ('01', NULL)");
    EXPECT_EQ(Errors("UPDATE Kan SET KanPor = NULL"),
              (Strings{"515 16 2: Cannot insert the value NULL into column 'KanPor', table "
                       "'master.dbo.Kan'; column does not allow nulls. UPDATE fails.",
                       kTerminated}));
    EXPECT_EQ(Rows("SELECT KanPor, KanDat FROM Kan"), Strings{"'01'|NULL"});
    // A session names its own database.
    const auto zeit = engine_->ExecuteBatch("INSERT INTO Kan (KanDat) VALUES ('0001')", "zeit");
    ASSERT_EQ(zeit.size(), 1u);
    EXPECT_NE(zeit[0].messages.at(0).text.find("table 'zeit.dbo.Kan'"), std::string::npos);
}

TEST_F(EngineTest, DuplicatePrimaryKeyIs2627AndEndsOnlyThatStatement) {
    Exec("CREATE SCHEMA s");
    Exec(
        "CREATE TABLE s.Kan (a char(2) NOT NULL, b int NOT NULL, c varchar(5), CONSTRAINT PK_Kan "
        "PRIMARY KEY (a, b))");
    Exec("INSERT INTO s.Kan VALUES ('01', 1, 'x')");
    const auto results =
        Run("INSERT INTO s.Kan VALUES ('02', 1, 'y'), ('01 ', 1, 'z')\nSELECT COUNT(*) FROM s.Kan");
    ASSERT_EQ(results.size(), 2u);
    ASSERT_EQ(results[0].messages.size(), 2u);
    EXPECT_EQ(
        ShowMessage(results[0].messages[0]),
        "2627 14 1: Violation of PRIMARY KEY constraint 'PK_Kan'. Cannot insert duplicate key in "
        "object 's.Kan'. The duplicate key value is (01, 1).");
    EXPECT_EQ(ShowMessage(results[0].messages[1]), kTerminated);
    EXPECT_EQ(enginetest::ShowRow(results[1].rows.at(0)), "1");  // the statement inserted nothing

    Exec("CREATE TABLE Zkv (k varchar(8) NOT NULL PRIMARY KEY)");
    Exec("INSERT INTO Zkv VALUES ('abc')");
    const auto dup = Errors("INSERT INTO .Zkv VALUES ('ABC  ')");
    ASSERT_FALSE(dup.empty());
    EXPECT_EQ(dup[0].rfind("2627 14 1: Violation of PRIMARY KEY constraint 'PK__Zkv__", 0), 0u)
        << dup[0];
    EXPECT_NE(dup[0].find("in object 'dbo.Zkv'. The duplicate key value is (ABC  )."),
              std::string::npos)
        << dup[0];
}

TEST_F(EngineTest, PlusConcatenatesStringsAndAddsNumbers) {
    struct Case {
        const char* expression;
        const char* value;
    };
    const Case cases[] = {
        {"1 + '1'", "2"},
        {"1 + ''", "1"},
        {"'1' + '1'", "'11'"},
        {"'a' + NULL", "NULL"},
        {"NULL + 1", "NULL"},
        {"-(3) - 4", "-7"},
        {"-2147483648", "-2147483648"},
        {"7 / 2 * 2 + 7 % 4", "9"},
        {"1 + 'abc'",
         "245 16 1: Conversion failed when converting the varchar value 'abc' to data type int."},
        {"'a' - 'b'", "8117 16 1: Operand data type varchar is invalid for subtract operator."},
        {"2147483647 + 1",
         "8115 16 2: Arithmetic overflow error converting expression to data type int."},
        {"1 / 0", "8134 16 1: Divide by zero error encountered."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expression);
        EXPECT_EQ(Scalar(std::string("SELECT ") + c.expression), c.value);
    }
}

TEST_F(EngineTest, TextColumnComparedWithIntIsConvertedRowByRow) {
    Exec("CREATE TABLE m (k char(3) NOT NULL, n int NOT NULL)");
    Exec("INSERT INTO m VALUES ('', 1), ('0', 2), (' 0', 3), ('7', 4)");
    EXPECT_EQ(Rows("SELECT n FROM m WHERE k = 0"), (Strings{"1", "2", "3"}));
    EXPECT_EQ(Rows("SELECT n FROM m WHERE n = '4'"), Strings{"4"});
    Exec("INSERT INTO m VALUES ('N', 5)");
    const auto err = Errors("SELECT n FROM m WHERE k = 0");
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err[0].substr(0, 10), "245 16 1: ");
    // A string that does not convert into an int column is the same error.
    EXPECT_EQ(Errors("INSERT INTO m VALUES ('x', '_K')")[0].substr(0, 10), "245 16 1: ");
}

TEST_F(EngineTest, FunctionsComputeAsTheServerDoes) {
    struct Case {
        const char* expression;
        const char* value;
    };
    const Case cases[] = {
        {"REPLICATE(' ', 3)", "'   '"},
        {"REPLICATE(' ', 0)", "''"},
        {"REPLICATE(' ', -1)", "NULL"},
        {"REPLICATE(' ', NULL)", "NULL"},
        {"REPLICATE('ab', 3)", "'ababab'"},
        {"DATALENGTH(REPLICATE('ab', 100000))", "8000"},
        {"'ABC' + REPLICATE(' ', 20 - DATALENGTH('ABC'))", "'ABC                 '"},
        {"'ABCD' + REPLICATE(' ', 3 - DATALENGTH('ABCD'))", "NULL"},
        {"DATALENGTH('ABC  ')", "5"},
        {"LEN('ABC  ')", "3"},
        {"LEN('  A')", "3"},
        {"DATALENGTH('')", "0"},
        {"LEN('   ')", "0"},
        {"DATALENGTH(NULL)", "NULL"},
        {"LEN(-9)", "2"},
        {"DATALENGTH(7)", "4"},
        {"STR(7, LEN(7))", "'7'"},
        {"STR(-9, LEN(-9))", "'-9'"},
        {"STR(2147483647, LEN(2147483647))", "'2147483647'"},
        {"STR(123, 2)", "'**'"},
        {"STR(5)", "'         5'"},
        {"STR('07', 2)", "' 7'"},
        {"STR('2.5', 1)", "'3'"},
        {"STR('-123.45', 8, 1)", "'  -123.5'"},
        {"STR('123.45', 5, 2)", "'123.5'"},
        {"STR(5, 0)", "NULL"},
        {"STR('AB', 2)", "8114 16 5: Error converting data type varchar to float."},
        {"COALESCE(NULL, 0)", "0"},
        {"COALESCE(NULL, 'x', 'y')", "'x'"},
        {"COALESCE('', 'x')", "''"},
        {"CONVERT(varchar(3), 'abcdef', 12)", "'abc'"},
        {"CONVERT(char(5), 'ab')", "'ab   '"},
        {"CONVERT(int, ' 12 ')", "12"},
        {"CONVERT(smallint, '-7')", "-7"},
        {"CONVERT(char(1), 10)", "'*'"},
        {"CONVERT(varchar(4), 1234)", "'1234'"},
        {"CONVERT(int, '1.0')",
         "245 16 1: Conversion failed when converting the varchar value '1.0' to data type int."},
        {"CONVERT(int, '2200000000')",
         "248 16 1: The conversion of the varchar value '2200000000' overflowed an int column."},
        {"UPPER('m\xFC"
         "ller')",
         "'M\xDCLLER'"},
        {"RTRIM('ab  ') + LTRIM('  c')", "'abc'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expression);
        EXPECT_EQ(Scalar(std::string("SELECT ") + c.expression), c.value);
    }
}

TEST_F(EngineTest, ColumnsInTheLookupExpressions) {
    Exec("CREATE TABLE f (c char(3) NULL, v varchar(5) NULL, i int NULL, s smallint NULL)");
    Exec("INSERT INTO f VALUES ('AB', 'A', 7, -9), ('', '', 123, 2), (NULL, 'ABCD', NULL, NULL)");
    EXPECT_EQ(
        Rows("SELECT c + replicate(' ', 3-datalength(c)), v + replicate(' ', 3-datalength(v)), "
             "str(i, len(i)), str(s, len(s)), i + replicate(' ', 3-datalength(i)), "
             "s + replicate(' ', 3-datalength(s)) FROM f"),
        (Strings{"'AB '|'A  '|'7'|'-9'|NULL|-9", "'   '|'   '|'123'|'2'|NULL|2",
                 "NULL|NULL|NULL|NULL|NULL|NULL"}));
}

TEST_F(EngineTest, CoalesceTakesTheTypeOfHighestPrecedence) {
    Exec("CREATE TABLE z (k char(30) NULL, v varchar(30) NULL, i int NULL, s smallint NULL)");
    Exec("INSERT INTO z VALUES ('ABC', 'ABC', 5, 6), (NULL, NULL, NULL, NULL)");
    const auto r = One("SELECT COALESCE(k, '" + std::string(30, ' ') +
                       "'), COALESCE(v, ''), COALESCE(i, 0), "
                       "COALESCE(s, 0) FROM z");
    ASSERT_FALSE(r.failed);
    ASSERT_EQ(r.columns.size(), 4u);
    EXPECT_EQ(r.columns[0].type, SqlType::VarChar);
    EXPECT_EQ(r.columns[0].length, 30);
    EXPECT_EQ(r.columns[2].type, SqlType::Int);
    EXPECT_FALSE(r.columns[2].nullable);
    EXPECT_EQ(r.columns[3].type, SqlType::Int);
    ASSERT_EQ(r.rows.size(), 2u);
    EXPECT_EQ(enginetest::ShowRow(r.rows[0]), "'ABC" + std::string(27, ' ') + "'|'ABC'|5|6");
    EXPECT_EQ(enginetest::ShowRow(r.rows[1]), "'" + std::string(30, ' ') + "'|''|0|0");
}

TEST_F(EngineTest, ScalarSubqueryGivesNullForNoRowAnd512ForTwo) {
    Exec("CREATE TABLE t (k varchar(5) NOT NULL, v int NOT NULL)");
    Exec("INSERT INTO t VALUES ('a', 1), ('b', 2), ('b', 3)");
    EXPECT_EQ(Scalar("SELECT (SELECT v FROM t WHERE k = 'a')"), "1");
    EXPECT_EQ(Scalar("SELECT (SELECT v FROM t WHERE k = 'x')"), "NULL");
    EXPECT_EQ(
        Scalar("SELECT (SELECT v FROM t WHERE k = 'b')"),
        "512 16 1: Subquery returned more than 1 value. This is not permitted when the subquery "
        "follows =, !=, <, <= , >, >= or when the subquery is used as an expression.");
    EXPECT_EQ(Rows("SELECT k FROM t WHERE v = (SELECT v FROM t WHERE k = 'x')"), Strings{});
    EXPECT_EQ(Rows("SELECT k FROM t WHERE v = (SELECT v + 1 FROM t WHERE k = 'a')"),
              Strings{"'b'"});
    EXPECT_EQ(Rows("SELECT o.k, (SELECT COUNT(*) FROM t i WHERE i.k = o.k) FROM t o"),
              (Strings{"'a'|1", "'b'|2", "'b'|2"}));
    EXPECT_EQ(Errors("SELECT (SELECT k, v FROM t)")[0].substr(0, 4), "116 ");
}

TEST_F(EngineTest, NamesAreCaseInsensitiveAndAnEmptySchemaMeansDbo) {
    Exec("CREATE SCHEMA Zentrale");
    Exec("CREATE TABLE ZENTRALE.Zkv401Zls (ZlsTrm varchar(10) NOT NULL, ZlsKst char(3) NULL)");
    Exec("CREATE TABLE Zkv131Fcd (FcdNum varchar(3) NOT NULL, ZlsKst int NULL)");
    Exec("INSERT INTO zentrale.ZKV401ZLS (zlstrm) VALUES ('T1')");
    Exec("INSERT  INTO .Zkv131Fcd  (FcdNum) VALUES ('K')");
    const auto r = One("SELECT zlstrm FROM Zentrale.zkv401zls");
    ASSERT_EQ(r.columns.size(), 1u);
    EXPECT_EQ(r.columns[0].name, "ZlsTrm");  // the name as created
    for (const char* from :
         {".Zkv131Fcd", "dbo.Zkv131Fcd", "Zkv131Fcd", "DBO.zkv131fcd", "[dbo].[Zkv131Fcd]"}) {
        SCOPED_TRACE(from);
        EXPECT_EQ(Rows(std::string("SELECT FcdNum FROM ") + from), Strings{"'K'"});
    }
    EXPECT_EQ(Rows("SELECT Zkv131Fcd.FcdNum, x.ZlsTrm FROM .Zkv131Fcd, Zentrale.Zkv401Zls x"),
              Strings{"'K'|'T1'"});

    struct Case {
        const char* sql;
        Strings messages;
    };
    const Case cases[] = {
        {"SELECT * FROM .Nope", {"208 16 1: Invalid object name '.Nope'."}},
        {"SELECT * FROM Zentrale.Nope", {"208 16 1: Invalid object name 'Zentrale.Nope'."}},
        {"SELECT * FROM Missing.Zkv131Fcd", {"208 16 1: Invalid object name 'Missing.Zkv131Fcd'."}},
        {"INSERT INTO .Nope VALUES (1)", {"208 16 1: Invalid object name '.Nope'."}},
        {"SELECT foo, ZlsTrm, bar FROM Zentrale.Zkv401Zls",
         {"207 16 1: Invalid column name 'foo'.", "207 16 1: Invalid column name 'bar'."}},
        {"INSERT INTO Zkv131Fcd (FcdNum, Nope) VALUES ('a', 1)",
         {"207 16 1: Invalid column name 'Nope'."}},
        {"UPDATE Zkv131Fcd SET Nope = 1", {"207 16 1: Invalid column name 'Nope'."}},
        {"SELECT ZlsKst FROM Zkv131Fcd, Zentrale.Zkv401Zls",
         {"209 16 1: Ambiguous column name 'ZlsKst'."}},
        {"SELECT y.FcdNum FROM Zkv131Fcd",
         {"4104 16 1: The multi-part identifier \"y.FcdNum\" could not be bound."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(Errors(c.sql), c.messages);
    }
}

TEST_F(EngineTest, BatchesRunInOrderAndErrorsCarryTheStatementLine) {
    const auto results =
        Run("CREATE TABLE t (a int)\nINSERT INTO t VALUES (1), (2), (3)\n\nSELECT a FROM t; SELECT "
            "a\nFROM nope");
    ASSERT_EQ(results.size(), 4u);
    EXPECT_FALSE(results[0].count_valid);  // DDL answers no count
    EXPECT_TRUE(results[1].count_valid);
    EXPECT_EQ(results[1].row_count, 3);
    EXPECT_TRUE(results[2].has_result_set);
    EXPECT_EQ(results[2].row_count, 3);
    ASSERT_TRUE(results[3].failed);
    EXPECT_EQ(results[3].messages.at(0).number, 208);
    EXPECT_EQ(results[3].messages.at(0).line, 4);

    const auto counts = Run(
        "UPDATE t SET a = a + 10 WHERE a >= 2\nDELETE FROM t WHERE a = 12\nDELETE t WHERE a = 99");
    ASSERT_EQ(counts.size(), 3u);
    EXPECT_EQ(counts[0].row_count, 2);
    EXPECT_EQ(counts[1].row_count, 1);
    EXPECT_EQ(counts[2].row_count, 0);
    EXPECT_TRUE(counts[2].count_valid);
    EXPECT_EQ(Rows("SELECT a FROM t ORDER BY a DESC"), (Strings{"13", "1"}));

    // SET options are accepted and answer without a count.
    const auto sets =
        Run("SET ANSI_NULLS ON SET TEXTSIZE 64512 ;set transaction isolation level read committed");
    ASSERT_EQ(sets.size(), 3u);
    for (const auto& r : sets) {
        EXPECT_FALSE(r.failed);
        EXPECT_FALSE(r.count_valid);
        EXPECT_FALSE(r.has_result_set);
    }

    // A conversion error ends the batch; a constraint error ends only its statement.
    EXPECT_EQ(Run("SELECT 1 + 'x'\nSELECT 2").size(), 1u);
    EXPECT_EQ(Run("INSERT INTO t VALUES ('x')\nSELECT 2").size(), 1u);
    EXPECT_EQ(Run("SELECT 1 / 0\nSELECT 2").size(), 2u);
}

TEST_F(EngineTest, ABatchWithASyntaxErrorRunsNothing) {
    struct Case {
        const char* batch;
        Strings messages;
        int line;
    };
    const Case cases[] = {
        {"CREATE TABLE u (a int)\nSELECT * FROM",
         {"156 15 1: Incorrect syntax near the keyword 'FROM'."},
         2},
        {"CREATE TABLE u (a int)\nSELECT 1 +", {"102 15 1: Incorrect syntax near '+'."}, 2},
        {"CREATE TABLE u (a int) SELECT 1 2", {"102 15 1: Incorrect syntax near '2'."}, 1},
        {"CREATE TABLE u (a int)\n\nSELECT a FROM t where",
         {"156 15 1: Incorrect syntax near the keyword 'where'."},
         3},
        {"CREATE TABLE u (a int) SELECT 'abc",
         {"105 15 1: Unclosed quotation mark after the character string 'abc'.",
          "102 15 1: Incorrect syntax near 'abc'."},
         1},
        {"CREATE TABLE u (a int) SELECT 1 WHERE 1",
         {"4145 15 1: An expression of non-boolean type specified in a context where a condition "
          "is "
          "expected, near '1'."},
         1},
        {"CREATE TABLE u (a int) SELECT 1 = 1", {"102 15 1: Incorrect syntax near '='."}, 1},
        {"CREATE TABLE u (a int) /* open", {"113 15 1: Missing end comment mark '*/'."}, 1},
        {"CREATE TABLE u (a int) SELECT NOWHERE(1)",
         {"195 15 10: 'NOWHERE' is not a recognized built-in function name."},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.batch);
        const auto results = Run(c.batch);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_TRUE(results[0].failed);
        Strings messages;
        for (const auto& m : results[0].messages) {
            messages.push_back(ShowMessage(m));
            EXPECT_EQ(m.line, c.line);
        }
        EXPECT_EQ(messages, c.messages);
        EXPECT_EQ(Errors("SELECT * FROM u"), Strings{"208 16 1: Invalid object name 'u'."});
    }
}

TEST_F(EngineTest, LiteralsAllowDoubledQuotesAndComments) {
    EXPECT_EQ(Scalar("SELECT 'it''s' -- comment"), "'it's'");
    EXPECT_EQ(Scalar("SELECT /* a /* nested */ comment */ DATALENGTH('O''Brien')"), "7");
    EXPECT_EQ(Scalar("SELECT N'x'"), "'x'");
}

TEST_F(EngineTest, ResultColumnsCarryTypeLengthAndNullability) {
    Exec(
        "CREATE TABLE k (a char(8) NOT NULL, b varchar(13) NULL, c int, d smallint NOT NULL, e "
        "datetime)");
    const auto r =
        One("SELECT a, b, c, d, e, 'xyz', 12, CONVERT(datetime, '20030201'), CONVERT(varchar(10), "
            "e, 104), "
            "COALESCE(c, 0), a + b, '', NULL, 1 AS n FROM k");
    ASSERT_FALSE(r.failed);
    struct Expected {
        const char* name;
        SqlType type;
        int length;
        bool nullable;
    };
    const Expected expected[] = {
        {"a", SqlType::Char, 8, false},    {"b", SqlType::VarChar, 13, true},
        {"c", SqlType::Int, 0, true},      {"d", SqlType::SmallInt, 0, false},
        {"e", SqlType::DateTime, 0, true}, {"", SqlType::VarChar, 3, false},
        {"", SqlType::Int, 0, false},      {"", SqlType::DateTime, 0, false},
        {"", SqlType::VarChar, 10, true},  {"", SqlType::Int, 0, false},
        {"", SqlType::VarChar, 21, true},  {"", SqlType::VarChar, 1, false},
        {"", SqlType::Int, 0, true},       {"n", SqlType::Int, 0, false},
    };
    ASSERT_EQ(r.columns.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.columns[i].name, expected[i].name);
        EXPECT_EQ(r.columns[i].type, expected[i].type);
        if (expected[i].length > 0) {
            EXPECT_EQ(r.columns[i].length, expected[i].length);
        }
        EXPECT_EQ(r.columns[i].nullable, expected[i].nullable);
    }
    // COUNT makes an aggregate query, in which plain columns are refused.
    const auto count = One("SELECT COUNT(*) FROM k");
    ASSERT_EQ(count.columns.size(), 1u);
    EXPECT_EQ(count.columns[0].type, SqlType::Int);
    EXPECT_FALSE(count.columns[0].nullable);
    EXPECT_EQ(
        Errors("SELECT a, COUNT(*) FROM k"),
        Strings{
            "8120 16 1: Column 'k.a' is invalid in the select list because it is not contained in "
            "either an aggregate function or the GROUP BY clause."});
}

TEST_F(EngineTest, SelectStarAndOrderBy) {
    Exec("CREATE TABLE o (a int NOT NULL, b varchar(3) NULL)");
    Exec("INSERT INTO o VALUES (3, 'c'), (1, NULL), (2, 'B'), (1, 'a')");
    EXPECT_EQ(Rows("SELECT * FROM o"),
              (Strings{"3|'c'", "1|NULL", "2|'B'", "1|'a'"}));  // insertion order
    EXPECT_EQ(Rows("SELECT a, b FROM o ORDER BY a, b DESC"),
              (Strings{"1|'a'", "1|NULL", "2|'B'", "3|'c'"}));
    EXPECT_EQ(Rows("SELECT b AS x FROM o ORDER BY x"), (Strings{"NULL", "'a'", "'B'", "'c'"}));
    EXPECT_EQ(Rows("SELECT a FROM o ORDER BY 1 DESC"), (Strings{"3", "2", "1", "1"}));
    EXPECT_EQ(Rows("SELECT COUNT(*), COUNT(b) FROM o"), Strings{"4|3"});
    EXPECT_EQ(Errors("SELECT *")[0].substr(0, 4), "263 ");
}

TEST_F(EngineTest, CreateTableChecksItsDefinition) {
    Exec("CREATE SCHEMA s");
    struct Case {
        const char* sql;
        int number;
    };
    const Case cases[] = {
        {"CREATE TABLE nope.t (a int)", 2760},
        {"CREATE TABLE s.t (a foo)", 2715},
        {"CREATE TABLE s.t (a varchar(0))", 1001},
        {"CREATE TABLE s.t (a varchar(8001))", 131},
        {"CREATE TABLE s.t (a int(4))", 2716},
        {"CREATE TABLE s.t (a int, A int)", 2705},
        {"CREATE TABLE s.t (a int PRIMARY KEY, b int PRIMARY KEY)", 8110},
        {"CREATE TABLE s.t (a int NULL PRIMARY KEY)", 8111},
        {"CREATE TABLE s.t (a int, PRIMARY KEY (b))", 1911},
        {"CREATE SCHEMA S", 2714},
        {"DROP TABLE s.t", 3701},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        const auto r = One(c.sql);
        ASSERT_TRUE(r.failed);
        EXPECT_EQ(r.messages.at(0).number, c.number);
    }
    Exec("CREATE TABLE s.t (a int)");
    EXPECT_EQ(One("CREATE TABLE S.T (b int)").messages.at(0).number, 2714);
    Exec("DROP TABLE s.T; DROP TABLE IF EXISTS s.t");
    Exec("CREATE TABLE s.t (b char)");  // recreated with other columns
    Exec("INSERT INTO s.t VALUES ('x')");
    EXPECT_EQ(Rows("SELECT b FROM s.t"), Strings{"'x'"});
}

TEST(EngineFile, TablesAndKeysSurviveReopening) {
    testsupport::TempDir dir;
    const std::string path = dir.File("engine.db");
    {
        std::string error;
        auto engine = tdslite::Engine::Open(path, &error);
        ASSERT_NE(engine, nullptr) << error;
        for (const auto& r :
             engine->ExecuteBatch("CREATE SCHEMA Werk1 CREATE TABLE werk1.Kan (k varchar(5) NOT "
                                  "NULL PRIMARY KEY, d datetime NULL)\n"
                                  "INSERT INTO WERK1.KAN VALUES ('abc', '20030201')")) {
            ASSERT_FALSE(r.failed);
        }
    }
    std::string error;
    auto engine = tdslite::Engine::Open(path, &error);
    ASSERT_NE(engine, nullptr) << error;
    auto rows = engine->ExecuteBatch("SELECT k, d FROM werk1.kan WHERE k = 'ABC '");
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].rows.size(), 1u);
    EXPECT_EQ(enginetest::ShowRow(rows[0].rows[0]), "'abc'|2003-02-01 00:00:00.000");
    auto dup = engine->ExecuteBatch("INSERT INTO Werk1.Kan VALUES ('ABC', NULL)");
    ASSERT_EQ(dup.size(), 1u);
    EXPECT_EQ(dup[0].messages.at(0).number, 2627);

    EXPECT_EQ(tdslite::Engine::Open(dir.File("missing/dir/x.db"), &error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST_F(EngineTest, BatchesFromSeveralThreadsAreSerialised) {
    Exec("CREATE TABLE c (k int NOT NULL PRIMARY KEY, v varchar(10) NULL)");
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t, &failures] {
            for (int i = 0; i < 150; ++i) {
                const std::string k = std::to_string(t * 1000 + i);
                for (const auto& r :
                     engine_->ExecuteBatch("INSERT INTO c VALUES (" + k + ", 'v" + k +
                                           "') SELECT v FROM c WHERE k = " + k)) {
                    if (r.failed || (r.has_result_set && r.rows.size() != 1))
                        ++failures[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM c"), Strings{"600"});
}

}  // namespace
