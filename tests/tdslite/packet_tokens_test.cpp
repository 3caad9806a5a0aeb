// The server's tokens at byte level, against answers FreeTDS is known to accept.
#include <gtest/gtest.h>

#include <vector>

#include "packet_bytes.h"
#include "protocol/tokens.h"

namespace {

using namespace tdslite::protocol;
using packettest::Hex;
using packettest::Join;
using packettest::Ucs2;
using tdslite::ColumnInfo;
using tdslite::SqlType;
using tdslite::Value;

TEST(Tokens, FixedAnswersMatchTheBytesClientsAccept) {
    struct Case {
        const char* name;
        Bytes written;
        Bytes expected;
    };
    Bytes done, error, ack, ret, status, env_db, collation;
    WriteDone(done, kTokenDone, kDoneCount, 0xC3, 1);
    WriteMessage(error, {18456, 1, 14, "Login failed for user 'sa'.", 1}, "TDSLITE");
    WriteLoginAck(ack, "TDSLITE");
    WriteReturnValueInt(ret, 1, "", 0x0abcdef3);
    WriteReturnStatus(status, 0);
    WriteEnvChange(env_db, 1, "zeit", "master");
    WriteCollationChange(collation);
    const Case cases[] = {
        {"done_count", done, Hex("fd 10 00 c3 00 01 00 00 00 00 00 00 00")},
        {"login_error", error,
         Join({Hex("aa 52 00 18 48 00 00 01 0e 1b 00"), Ucs2("Login failed for user 'sa'."),
               Hex("07"), Ucs2("TDSLITE"), Hex("00 01 00 00 00")})},
        {"loginack", ack,
         Join({Hex("ad 18 00 01 74 00 00 04 07"), Ucs2("TDSLITE"), Hex("10 00 10 00")})},
        {"returnvalue", ret, Hex("ac 01 00 00 01 00 00 00 00 00 00 26 04 04 f3 de bc 0a")},
        {"returnstatus", status, Hex("79 00 00 00 00")},
        {"envchange_database", env_db,
         Join({Hex("e3 17 00 01 04"), Ucs2("zeit"), Hex("06"), Ucs2("master")})},
        {"envchange_collation", collation, Hex("e3 08 00 07 05 09 04 d0 00 34 00")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.written, c.expected);
    }
}

TEST(Tokens, MessageSeverityChoosesErrorOrInfo) {
    for (const auto& [severity, token] : {std::pair{0, 0xAB}, {10, 0xAB}, {11, 0xAA}, {16, 0xAA}}) {
        Bytes out;
        WriteMessage(out, {5701, 2, static_cast<std::uint8_t>(severity), "x", 1}, "S");
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out[0], token) << severity;
    }
    // A long text is cut, and the token's two-byte length still covers it exactly.
    Bytes out;
    WriteMessage(out, {50000, 1, 16, std::string(40000, 'x'), 1}, "S");
    const std::size_t length = out[1] | (out[2] << 8);
    EXPECT_EQ(length + 3, out.size());
}

ColumnInfo Column(const char* name, SqlType type, std::uint16_t length, bool nullable) {
    ColumnInfo c;
    c.name = name;
    c.type = type;
    c.length = length;
    c.nullable = nullable;
    return c;
}

TEST(Tokens, ColumnsAndRowsOfEachType) {
    const std::vector<ColumnInfo> columns = {
        Column("AswPnr", SqlType::VarChar, 8, false), Column("c", SqlType::Char, 4, true),
        Column("", SqlType::Int, 0, false),           Column("s", SqlType::SmallInt, 0, true),
        Column("d", SqlType::DateTime, 0, false),
    };
    // 2024-02-29 13:45:06.500
    const tdslite::DateTimeValue when{0xb125, 0x00e29f6e};
    const std::vector<std::vector<Value>> rows = {
        {Value::Text("0000\xFC"
                     "234"),
         Value::Text("ab  "), Value::Int(-2), Value::Int(32767), Value::Date(when)},
        {Value::Text(""), Value::Null(), Value::Int(7), Value::Null(), Value::Date(when)},
    };
    const auto wire = DescribeColumns(columns, rows);
    Bytes meta;
    WriteColMetadata(meta, wire);
    EXPECT_EQ(meta,
              Join({Hex("81 05 00"), Hex("00 00 00 00 08 00 a7 08 00 09 04 d0 00 34 06"),
                    Ucs2("AswPnr"), Hex("00 00 00 00 09 00 af 04 00 09 04 d0 00 34 01"), Ucs2("c"),
                    Hex("00 00 00 00 08 00 38 00"), Hex("00 00 00 00 09 00 26 02 01"), Ucs2("s"),
                    Hex("00 00 00 00 08 00 3d 01"), Ucs2("d")}));
    Bytes row0, row1;
    WriteRow(row0, wire, rows[0]);
    WriteRow(row1, wire, rows[1]);
    EXPECT_EQ(row0, Hex("d1 08 00 30 30 30 30 fc 32 33 34 04 00 61 62 20 20 fe ff ff ff 02 ff 7f"
                        "25 b1 00 00 6e 9f e2 00"));
    // NULLs in columns 2 and 4 (bits 1 and 3) are left out of an NBCROW.
    EXPECT_EQ(row1, Hex("d2 0a 00 00 07 00 00 00 25 b1 00 00 6e 9f e2 00"));
}

TEST(Tokens, DescribeColumnsWidensWhatTheRowsNeed) {
    struct Case {
        const char* name;
        ColumnInfo column;
        std::vector<Value> values;
        std::uint8_t type_byte;    // in COLMETADATA
        std::uint16_t max_length;  // text columns
        std::uint8_t int_size;     // integer columns
    } cases[] = {
        {"null_in_not_null_int",
         Column("", SqlType::Int, 0, false),
         {Value::Int(1), Value::Null()},
         0x26,
         1,
         4},
        {"long_text", Column("", SqlType::VarChar, 3, true), {Value::Text("abcdef")}, 0xA7, 6, 4},
        {"empty_length", Column("", SqlType::VarChar, 0, true), {}, 0xA7, 1, 4},
        {"text_capped",
         Column("", SqlType::VarChar, 1, true),
         {Value::Text(std::string(9000, 'x'))},
         0xA7,
         8000,
         4},
        {"smallint_overflow",
         Column("", SqlType::SmallInt, 0, false),
         {Value::Int(40000)},
         0x38,
         1,
         4},
        {"int_overflow", Column("", SqlType::Int, 0, false), {Value::Int(1LL << 40)}, 0x26, 1, 8},
        {"datetime_gets_text",
         Column("", SqlType::DateTime, 0, false),
         {Value::Text("x")},
         0x6F,
         1,
         4},
        {"int_from_digits", Column("", SqlType::Int, 0, false), {Value::Text(" 42 ")}, 0x38, 1, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<Value>> rows;
        for (const auto& v : c.values) rows.push_back({v});
        const auto wire = DescribeColumns(std::vector<ColumnInfo>{c.column}, rows);
        ASSERT_EQ(wire.size(), 1u);
        Bytes meta;
        WriteColMetadata(meta, wire);
        EXPECT_EQ(meta[3 + 6], c.type_byte);
        EXPECT_EQ(wire[0].max_length, c.max_length);
        EXPECT_EQ(wire[0].int_size, c.int_size);
        // Every row still encodes to the width announced.
        for (const auto& row : rows) {
            Bytes out;
            WriteRow(out, wire, row);
            EXPECT_FALSE(out.empty());
        }
    }
}

TEST(Tokens, ValuesOfAnotherKindAreConverted) {
    const std::vector<ColumnInfo> columns = {Column("", SqlType::VarChar, 10, false),
                                             Column("", SqlType::Int, 0, false)};
    const std::vector<std::vector<Value>> rows = {{Value::Int(-15), Value::Text("12")}};
    const auto wire = DescribeColumns(columns, rows);
    Bytes out;
    WriteRow(out, wire, rows[0]);
    EXPECT_EQ(out, Hex("d1 03 00 2d 31 35 0c 00 00 00"));
    // A short row: the missing value is a NULL.
    const std::vector<std::vector<Value>> short_rows = {{Value::Text("a")}};
    const auto wire2 = DescribeColumns(columns, short_rows);
    out.clear();
    WriteRow(out, wire2, short_rows[0]);
    EXPECT_EQ(out, Hex("d2 02 01 00 61"));
}

}  // namespace
