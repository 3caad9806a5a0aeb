#include "protocol/tokens.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

namespace tdslite::protocol {
namespace {

constexpr std::size_t kMaxMessageChars = 16000;
constexpr std::uint16_t kMaxTextLength = 8000;

// The integer a value stands for in a numeric column, if any.
std::optional<std::int64_t> AsInteger(const Value& v) {
    if (v.kind == Value::Kind::Int) return v.integer;
    if (v.kind != Value::Kind::Text) return std::nullopt;
    std::string_view s = v.text;
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    std::int64_t n = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return n;
}

// Civil date of a day count since 1900-01-01.
void DateOfDays(std::int64_t days, int& year, int& month, int& day) {
    // Days since 0000-03-01 in the proleptic Gregorian calendar; 1900-01-01 is day 693901.
    const std::int64_t z = days + 693901;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

// The text a value stands for in a text column, if any.
std::optional<std::string> AsText(const Value& v) {
    switch (v.kind) {
        case Value::Kind::Null:
            return std::nullopt;
        case Value::Kind::Text:
            return v.text;
        case Value::Kind::Int:
            return std::to_string(v.integer);
        case Value::Kind::DateTime: {
            int y = 0, mo = 0, d = 0;
            DateOfDays(v.datetime.days, y, mo, d);
            const std::uint64_t ms = (static_cast<std::uint64_t>(v.datetime.ticks) * 10 + 1) / 3;
            char buf[40];
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02u:%02u:%02u.%03u", y, mo, d,
                          static_cast<unsigned>(ms / 3600000 % 24),
                          static_cast<unsigned>(ms / 60000 % 60),
                          static_cast<unsigned>(ms / 1000 % 60), static_cast<unsigned>(ms % 1000));
            return std::string(buf);
        }
    }
    return std::nullopt;
}

bool IsInteger(SqlType t) {
    return t == SqlType::Int || t == SqlType::SmallInt;
}
bool IsText(SqlType t) {
    return t == SqlType::Char || t == SqlType::VarChar;
}

// Whether a value is sent as NULL in a column of type t.
bool SentAsNull(SqlType t, const Value& v) {
    if (v.kind == Value::Kind::Null) return true;
    if (IsInteger(t)) return !AsInteger(v).has_value();
    if (t == SqlType::DateTime) return v.kind != Value::Kind::DateTime;
    return false;
}

std::uint8_t WireTypeByte(const WireColumn& c) {
    switch (c.type) {
        case SqlType::Int:
        case SqlType::SmallInt:
            if (c.nullable) return 0x26;  // INTN
            return c.int_size == 2 ? 0x34 : c.int_size == 4 ? 0x38 : 0x7F;
        case SqlType::DateTime:
            return c.nullable ? 0x6F : 0x3D;  // DATETIMN : DATETIME
        case SqlType::Char:
            return 0xAF;
        case SqlType::VarChar:
            return 0xA7;
    }
    return 0xA7;
}

}  // namespace

void WriteDone(Bytes& out, std::uint8_t token, std::uint16_t status, std::uint16_t curcmd,
               std::uint64_t row_count) {
    Writer w(out);
    w.U8(token);
    w.U16(status);
    w.U16(curcmd);
    w.U64(row_count);
}

void WriteMessage(Bytes& out, const Message& message, std::string_view server_name) {
    Writer w(out);
    w.U8(message.severity >= 11 ? kTokenError : kTokenInfo);
    const std::size_t length_at = w.size();
    w.U16(0);
    w.I32(message.number);
    w.U8(message.state);
    w.U8(message.severity);
    const std::string_view text = std::string_view(message.text).substr(0, kMaxMessageChars);
    w.UsVarchar(text);
    w.BVarchar(server_name);
    w.BVarchar("");  // procedure name
    w.I32(message.line);
    w.Patch16(length_at, static_cast<std::uint16_t>(w.size() - length_at - 2));
}

void WriteLoginAck(Bytes& out, std::string_view program_name) {
    Writer w(out);
    w.U8(kTokenLoginAck);
    const std::size_t length_at = w.size();
    w.U16(0);
    w.U8(1);                                               // interface: SQL
    w.U8(static_cast<std::uint8_t>(kTdsVersion74 >> 24));  // written big-endian
    w.U8(static_cast<std::uint8_t>(kTdsVersion74 >> 16));
    w.U8(static_cast<std::uint8_t>(kTdsVersion74 >> 8));
    w.U8(static_cast<std::uint8_t>(kTdsVersion74));
    w.BVarchar(program_name);
    w.U8(16);  // program version 16.0.4096
    w.U8(0);
    w.U8(0x10);
    w.U8(0);
    w.Patch16(length_at, static_cast<std::uint16_t>(w.size() - length_at - 2));
}

void WriteEnvChange(Bytes& out, std::uint8_t type, std::string_view new_value,
                    std::string_view old_value) {
    Writer w(out);
    w.U8(kTokenEnvChange);
    const std::size_t length_at = w.size();
    w.U16(0);
    w.U8(type);
    w.BVarchar(new_value);
    w.BVarchar(old_value);
    w.Patch16(length_at, static_cast<std::uint16_t>(w.size() - length_at - 2));
}

void WriteCollationChange(Bytes& out) {
    Writer w(out);
    w.U8(kTokenEnvChange);
    w.U16(1 + 1 + kCollation.size() + 1);
    w.U8(7);
    w.U8(static_cast<std::uint8_t>(kCollation.size()));
    w.Raw(kCollation);
    w.U8(0);  // old value: none
}

std::vector<WireColumn> DescribeColumns(std::span<const ColumnInfo> columns,
                                        std::span<const std::vector<Value>> rows) {
    std::vector<WireColumn> wire;
    wire.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnInfo& info = columns[i];
        WireColumn c;
        c.name = info.name;
        c.type = info.type;
        c.nullable = info.nullable;
        c.int_size = info.type == SqlType::SmallInt ? 2 : 4;
        std::size_t longest = info.length;
        for (const auto& row : rows) {
            if (i >= row.size()) {
                c.nullable = true;
                continue;
            }
            const Value& v = row[i];
            if (SentAsNull(c.type, v)) {
                c.nullable = true;
                continue;
            }
            if (IsInteger(c.type)) {
                const std::int64_t n = *AsInteger(v);
                if (n < std::numeric_limits<std::int32_t>::min() ||
                    n > std::numeric_limits<std::int32_t>::max()) {
                    c.int_size = 8;
                } else if (c.int_size == 2 && (n < -32768 || n > 32767)) {
                    c.int_size = 4;
                }
            } else if (IsText(c.type)) {
                longest = std::max(longest,
                                   v.kind == Value::Kind::Text ? v.text.size() : AsText(v)->size());
            }
        }
        c.max_length =
            static_cast<std::uint16_t>(std::clamp<std::size_t>(longest, 1, kMaxTextLength));
        // Only int and smallint have a NOT NULL form of their width; bigint goes as INTN.
        if (c.int_size == 8) c.nullable = true;
        wire.push_back(std::move(c));
    }
    return wire;
}

void WriteColMetadata(Bytes& out, std::span<const WireColumn> columns) {
    Writer w(out);
    w.U8(kTokenColMetadata);
    w.U16(static_cast<std::uint16_t>(columns.size()));
    for (const WireColumn& c : columns) {
        w.U32(0);                             // user type
        w.U16(c.nullable ? 0x0009 : 0x0008);  // nullable; updatable unknown
        const std::uint8_t type = WireTypeByte(c);
        w.U8(type);
        switch (type) {
            case 0x26:
                w.U8(c.int_size);
                break;
            case 0x6F:
                w.U8(8);
                break;
            case 0xA7:
            case 0xAF:
                w.U16(c.max_length);
                w.Raw(kCollation);
                break;
            default:
                break;  // fixed-length types carry no further type information
        }
        w.BVarchar(c.name);
    }
}

void WriteRow(Bytes& out, std::span<const WireColumn> columns, std::span<const Value> row) {
    static const Value kNull;
    auto value_at = [&](std::size_t i) -> const Value& { return i < row.size() ? row[i] : kNull; };

    bool any_null = false;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (SentAsNull(columns[i].type, value_at(i))) any_null = true;
    }
    Writer w(out);
    if (any_null) {
        w.U8(kTokenNbcRow);
        std::vector<std::uint8_t> bitmap((columns.size() + 7) / 8, 0);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (SentAsNull(columns[i].type, value_at(i)))
                bitmap[i / 8] = static_cast<std::uint8_t>(bitmap[i / 8] | (1u << (i % 8)));
        }
        w.Raw(bitmap);
    } else {
        w.U8(kTokenRow);
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const WireColumn& c = columns[i];
        const Value& v = value_at(i);
        if (SentAsNull(c.type, v)) continue;  // only in NBCROW, which leaves NULLs out
        if (IsInteger(c.type)) {
            const std::int64_t n = *AsInteger(v);
            if (c.nullable) w.U8(c.int_size);
            if (c.int_size == 2) {
                w.U16(static_cast<std::uint16_t>(n));
            } else if (c.int_size == 4) {
                w.U32(static_cast<std::uint32_t>(n));
            } else {
                w.U64(static_cast<std::uint64_t>(n));
            }
        } else if (c.type == SqlType::DateTime) {
            if (c.nullable) w.U8(8);
            w.I32(v.datetime.days);
            w.U32(v.datetime.ticks);
        } else if (v.kind == Value::Kind::Text) {
            const std::string_view s = std::string_view(v.text).substr(0, c.max_length);
            w.U16(static_cast<std::uint16_t>(s.size()));
            w.Raw(s);
        } else {
            const std::string text = AsText(v).value_or(std::string());
            const std::string_view s = std::string_view(text).substr(0, c.max_length);
            w.U16(static_cast<std::uint16_t>(s.size()));
            w.Raw(s);
        }
    }
}

void WriteReturnStatus(Bytes& out, std::int32_t status) {
    Writer w(out);
    w.U8(kTokenReturnStatus);
    w.I32(status);
}

void WriteReturnValueInt(Bytes& out, std::uint16_t ordinal, std::string_view name,
                         std::optional<std::int32_t> value) {
    Writer w(out);
    w.U8(kTokenReturnValue);
    w.U16(ordinal);
    w.BVarchar(name);
    w.U8(0x01);  // output parameter
    w.U32(0);    // user type
    w.U16(0);    // flags
    w.U8(0x26);  // INTN 4
    w.U8(4);
    if (value) {
        w.U8(4);
        w.I32(*value);
    } else {
        w.U8(0);
    }
}

}  // namespace tdslite::protocol
