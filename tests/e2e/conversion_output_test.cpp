// The columns of the output line, byte for byte: fields at their full width, short fields padded
// by the server, the four-digit year as the server reads a two-digit one, the time cut to HH:MM,
// function codes of one to three characters, and an umlaut that stays one byte and one column.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "conversion_run.h"

// The expected texts keep one column field or one message per line.
// clang-format off
namespace conversion {
namespace {

TEST(ConversionOutput, LinesHaveFixedColumns) {
    const std::unique_ptr<TdsliteServer> server = StartServer("conversion_output.sql");
    ASSERT_TRUE(server) << "tdslite did not start";

    const Conversion run =
        Convert(*server, "TERM01",
                Record("3001", "010203", "074512", 'A', "02") +   // every field at full width
                    Record("3002", "311299", "235959", 'A', "01") +
                    Record("3002", "150650", "000000", 'B', "02") +
                    Record("3002", "290224", "120000", 'C', "03"));
    EXPECT_EQ(run.exit_status, 0);

    //  schema (20)             pnr (8)     date (10)     time   fkt      fcd    cost centre (30)
    const std::string expected =
        "ABCDEFGHIJKLMNOPQRST" "12345678" "01.02.2003" "07:45" "32767" "K  "
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234\r\n"
        "WERK1               " "3002    " "31.12.1999" "23:59" "000-1" "K  "
        "K\xFC" "che                         \r\n"
        "WERK1               " "3002    " "15.06.1950" "00:00" "00000" "GE "
        "123456789012345678901234567890\r\n"
        "WERK1               " "3002    " "29.02.2024" "12:00" "00123" "DGE"
        "M\xFC" "nchen                       \r\n";
    EXPECT_EQ(run.output, expected);
    for (const std::string& line : Lines(run.output)) EXPECT_EQ(line.size(), 81u) << line;

    // The umlaut reaches the log as the same single byte.
    EXPECT_NE(run.console.find("- Leserkostenstelle K\xFC" "che f\xFC" "r Leser 01"),
              std::string::npos);
}

}  // namespace
}  // namespace conversion
// clang-format on
