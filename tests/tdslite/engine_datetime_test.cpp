// datetime in the engine: text read with style 4/104 and without style, the output styles of
// CONVERT, the errors 241/242, and chronological storage and comparison.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_harness.h"

namespace {

using enginetest::EngineTest;
using Strings = std::vector<std::string>;

constexpr const char* k241 =
    "241 16 1: Conversion failed when converting date and/or time from character string.";
constexpr const char* k242 =
    "242 16 3: The conversion of a varchar data type to a datetime data type resulted in an "
    "out-of-range value.";

TEST_F(EngineTest, Style4ReadsDayMonthYearLeniently) {
    struct Case {
        const char* text;
        const char* value;  // the datetime, or the error
    };
    const Case cases[] = {
        {"01.02.03", "2003-02-01 00:00:00.000"},
        {"1.2.3", "2003-02-01 00:00:00.000"},
        {"01.02.2003", "2003-02-01 00:00:00.000"},
        {"01/02/03", "2003-02-01 00:00:00.000"},
        {"01-02-03", "2003-02-01 00:00:00.000"},
        {"31.12.49", "2049-12-31 00:00:00.000"},  // two-digit years up to 49 are 20xx
        {"01.01.50", "1950-01-01 00:00:00.000"},  // from 50 on 19xx
        {"31.12.99", "1999-12-31 00:00:00.000"},
        {"29.02.04", "2004-02-29 00:00:00.000"},
        {"01.02.03 07:45", "2003-02-01 07:45:00.000"},
        {"01.02.03 7:45:30.5", "2003-02-01 07:45:30.500"},
        {" 01.02.03 ", "2003-02-01 00:00:00.000"},
        {"2003-02-01", "2003-01-02 00:00:00.000"},  // a leading year, then day and month
        {"20030201", "2003-02-01 00:00:00.000"},    // unseparated is always yyyymmdd
        {"", "1900-01-01 00:00:00.000"},
        {"   ", "1900-01-01 00:00:00.000"},
        {"31.02.03", k242},
        {"29.02.03", k242},
        {"32.01.03", k242},
        {"01.13.03", k242},
        {"01.01.1752", k242},
        {"00.00.00", k242},
        {"ab.cd.ef", k241},
        {"garbage", k241},
        {"01.02", k241},
        {"01.02.03 25:00", k241},
        {"01..03", k241},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Scalar(std::string("SELECT CONVERT(datetime, '") + c.text + "', 4)"), c.value);
        EXPECT_EQ(Scalar(std::string("SELECT CONVERT(datetime, '") + c.text + "', 104)"), c.value);
    }
    EXPECT_EQ(Scalar("SELECT CONVERT(datetime, NULL, 4)"), "NULL");
}

TEST_F(EngineTest, TextWithoutStyleReadsTheFixtureForms) {
    struct Case {
        const char* text;
        const char* value;
    };
    const Case cases[] = {
        {"20030201", "2003-02-01 00:00:00.000"},
        {"2003-02-01", "2003-02-01 00:00:00.000"},
        {"02/01/2003", "2003-02-01 00:00:00.000"},  // month first without a style
        {"2003-02-01 13:30:15.123", "2003-02-01 13:30:15.123"},
        {"2003-02-01T07:45:00", "2003-02-01 07:45:00.000"},
        {"20030201 23:59:59.999", "2003-02-02 00:00:00.000"},  // rounded to 1/300 s
        {"Feb  1 2003 12:00AM", "2003-02-01 00:00:00.000"},
        {"1 Feb 2003 1:05PM", "2003-02-01 13:05:00.000"},
        {"17530101", "1753-01-01 00:00:00.000"},
        {"99991231 23:59:59.997", "9999-12-31 23:59:59.997"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Scalar(std::string("SELECT CONVERT(datetime, '") + c.text + "')"), c.value);
    }
    EXPECT_EQ(Scalar("SELECT CONVERT(datetime, 0)"), "1900-01-01 00:00:00.000");
    EXPECT_EQ(Scalar("SELECT CONVERT(int, CONVERT(datetime, '19000102 12:00'))"),
              "2");  // rounded at noon
    EXPECT_EQ(Scalar("SELECT CONVERT(datetime, '20030201', 99)"),
              "9809 16 1: The style 99 is not supported for conversions from varchar to datetime.");
}

TEST_F(EngineTest, DatetimeIsWrittenInTheRequestedStyle) {
    Exec("CREATE TABLE d (v datetime NULL, c char(8) NULL)");
    Exec(
        "INSERT INTO d VALUES ('20030201 07:45', '20030201'), ('19991231 23:59', '01.02.03'), "
        "('20491231', NULL), (NULL, NULL)");
    EXPECT_EQ(
        Rows("SELECT CONVERT(varchar(8), v, 4), CONVERT(varchar(6), v, 12), CONVERT(varchar(10), "
             "v, 104), "
             "CONVERT(varchar(8), v, 112), CONVERT(varchar(30), v), CONVERT(varchar(6), v, 112), "
             "CONVERT(varchar(6), c, 12) FROM d"),
        (Strings{
            "'01.02.03'|'030201'|'01.02.2003'|'20030201'|'Feb  1 2003  7:45AM'|'200302'|'200302'",
            "'31.12.99'|'991231'|'31.12.1999'|'19991231'|'Dec 31 1999 11:59PM'|'199912'|'01.02.'",
            "'31.12.49'|'491231'|'31.12.2049'|'20491231'|'Dec 31 2049 12:00AM'|'204912'|NULL",
            "NULL|NULL|NULL|NULL|NULL|NULL|NULL"}));
    EXPECT_EQ(
        Scalar("SELECT CONVERT(varchar(30), CONVERT(datetime, '20030201 13:05:07.997'), 121)"),
        "'2003-02-01 13:05:07.997'");
    EXPECT_EQ(Scalar("SELECT CONVERT(varchar(10), CONVERT(datetime, '20030201'), 7)"),
              "281 16 1: 7 is not a valid style number when converting from datetime to a "
              "character string.");
}

TEST_F(EngineTest, DatetimeValuesCompareChronologically) {
    Exec("CREATE TABLE d (v datetime NOT NULL PRIMARY KEY, n int NULL)");
    Exec(
        "INSERT INTO d VALUES ('20030201', 1), ('19991231 23:59:59.997', 2), ('17530101', 3), "
        "('20030201 00:00:00.003', 4)");
    EXPECT_EQ(Rows("SELECT n FROM d ORDER BY v"), (Strings{"3", "2", "1", "4"}));
    EXPECT_EQ(Rows("SELECT n FROM d WHERE v < '20000101' ORDER BY n"), (Strings{"2", "3"}));
    EXPECT_EQ(Rows("SELECT n FROM d WHERE v = CONVERT(datetime, '01.02.03', 4)"), Strings{"1"});
    EXPECT_EQ(
        Rows("SELECT n FROM d WHERE v >= convert(datetime, '01.01.00', 4) AND v <= '2003-02-01'"),
        Strings{"1"});
    // The assignment lookup converts datetime columns with style 4: the value stays as it is.
    EXPECT_EQ(
        Rows("SELECT n FROM d WHERE convert(datetime, v, 4) > convert(datetime, '31.12.99', 4)"),
        (Strings{"1", "2", "4"}));
    EXPECT_EQ(Errors("INSERT INTO d VALUES ('17521231', 5)"),
              (Strings{k242, "3621 0 0: The statement has been terminated."}));
    EXPECT_EQ(Errors("SELECT n FROM d WHERE v = 'x'"), Strings{k241});
}

}  // namespace
