// Writers for the tokens of the server's answers.  Each appends one token to a byte vector; the
// caller wraps the finished token stream into packets (AppendPackets).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "protocol/wire.h"

namespace tdslite::protocol {

enum Token : std::uint8_t {
    kTokenReturnStatus = 0x79,
    kTokenColMetadata = 0x81,
    kTokenError = 0xAA,
    kTokenInfo = 0xAB,
    kTokenReturnValue = 0xAC,
    kTokenLoginAck = 0xAD,
    kTokenRow = 0xD1,
    kTokenNbcRow = 0xD2,
    kTokenEnvChange = 0xE3,
    kTokenDone = 0xFD,
    kTokenDoneProc = 0xFE,
    kTokenDoneInProc = 0xFF,
};

enum DoneStatus : std::uint16_t {
    kDoneFinal = 0x0000,
    kDoneMore = 0x0001,
    kDoneError = 0x0002,
    kDoneCount = 0x0010,
    kDoneAttention = 0x0020,
};

/// The collation of every text column and of the connection: LCID 0x0409, sort id 52, which is
/// case-insensitive Latin-1 in code page 1252.
inline constexpr std::array<std::uint8_t, 5> kCollation = {0x09, 0x04, 0xD0, 0x00, 0x34};

/// The TDS version tdslite speaks, as LOGINACK writes it.
inline constexpr std::uint32_t kTdsVersion74 = 0x74000004;

/// DONE, DONEPROC or DONEINPROC: status, current command and an 8-byte row count.
void WriteDone(Bytes& out, std::uint8_t token, std::uint16_t status, std::uint16_t curcmd,
               std::uint64_t row_count);

/// ERROR when the severity is 11 or more, INFO otherwise.  The text is cut at 16000 characters.
void WriteMessage(Bytes& out, const Message& message, std::string_view server_name);

/// LOGINACK for a SQL Server 7.4 login.
void WriteLoginAck(Bytes& out, std::string_view program_name);

/// ENVCHANGE of a text value (1 database, 2 language, 4 packet size).
void WriteEnvChange(Bytes& out, std::uint8_t type, std::string_view new_value,
                    std::string_view old_value);
/// ENVCHANGE type 7: the connection's collation.
void WriteCollationChange(Bytes& out);

/// A column as it travels: the engine's column made fit for the rows that go with it.
struct WireColumn {
    std::string name;
    SqlType type = SqlType::VarChar;
    std::uint16_t max_length = 1;  // Char and VarChar: bytes, 1..8000
    std::uint8_t int_size = 4;     // Int and SmallInt: 2, 4 or 8 bytes on the wire
    bool nullable = true;
};

/// Describes the columns of a result.  The declared types stay, except where a row needs more:
/// a column holding a NULL is sent as nullable; a text longer than the declared length widens the
/// column (up to 8000 bytes); an integer outside the declared range widens it (int, then bigint).
std::vector<WireColumn> DescribeColumns(std::span<const ColumnInfo> columns,
                                        std::span<const std::vector<Value>> rows);

/// COLMETADATA of the columns.
void WriteColMetadata(Bytes& out, std::span<const WireColumn> columns);

/// One row: ROW when no value is NULL, NBCROW otherwise.  A value whose kind does not fit the
/// column is converted (numbers to text, digits to numbers) or, for a datetime column, sent as
/// NULL; missing values at the end count as NULL.  Texts are cut at the column's length.
void WriteRow(Bytes& out, std::span<const WireColumn> columns, std::span<const Value> row);

/// RETURNSTATUS.
void WriteReturnStatus(Bytes& out, std::int32_t status);

/// RETURNVALUE of an int output parameter (INTN 4); nullopt sends NULL.  The name must be empty
/// or start with '@'.
void WriteReturnValueInt(Bytes& out, std::uint16_t ordinal, std::string_view name,
                         std::optional<std::int32_t> value);

}  // namespace tdslite::protocol
