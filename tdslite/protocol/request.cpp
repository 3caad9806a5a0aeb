#include "protocol/request.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "protocol/codec.h"

namespace tdslite::protocol {
namespace {

bool SetError(std::string* error, const char* text) {
    if (error) *error = text;
    return false;
}

constexpr std::array<const char*, 16> kProcNames = {
    "",
    "sp_cursor",
    "sp_cursoropen",
    "sp_cursorprepare",
    "sp_cursorexecute",
    "sp_cursorprepexec",
    "sp_cursorunprepare",
    "sp_cursorfetch",
    "sp_cursoroption",
    "sp_cursorclose",
    "sp_executesql",
    "sp_prepare",
    "sp_execute",
    "sp_prepexec",
    "sp_prepexecrpc",
    "sp_unprepare",
};

std::uint16_t ProcIdOf(std::string_view name) {
    std::string lower(name);
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // A leading "sys." or "dbo." schema is allowed.
    for (std::string_view prefix : {"sys.", "dbo."}) {
        if (lower.starts_with(prefix)) lower.erase(0, prefix.size());
    }
    for (std::size_t i = 1; i < kProcNames.size(); ++i) {
        if (lower == kProcNames[i]) return static_cast<std::uint16_t>(i);
    }
    return 0;
}

std::int64_t LittleEndianSigned(ByteSpan b) {
    std::uint64_t v = 0;
    for (std::size_t i = b.size(); i-- > 0;) v = (v << 8) | b[i];
    if (b.size() < 8 && !b.empty() && (b.back() & 0x80) && b.size() != 1) {
        v |= ~std::uint64_t{0} << (8 * b.size());  // sign-extend
    }
    return static_cast<std::int64_t>(v);
}

enum class LengthKind { kFixed, kByte, kShort, kLong, kPlp };

struct TypeInfo {
    std::uint8_t type = 0;
    LengthKind kind = LengthKind::kFixed;
    std::size_t fixed = 0;  // bytes of a fixed-length value
    bool integer = false;   // value is an integer
    bool text = false;      // value is text
    bool unicode = false;   // text is UCS-2
};

bool ReadTypeInfo(Reader& r, TypeInfo& t) {
    if (!r.U8(t.type)) return false;
    std::uint8_t b = 0;
    std::uint16_t s = 0;
    std::uint32_t l = 0;
    switch (t.type) {
        case 0x1F:
            t.fixed = 0;
            return true;  // NULL
        case 0x30:
            t.fixed = 1;
            t.integer = true;
            return true;  // tinyint
        case 0x32:
            t.fixed = 1;
            t.integer = true;
            return true;  // bit
        case 0x34:
            t.fixed = 2;
            t.integer = true;
            return true;  // smallint
        case 0x38:
            t.fixed = 4;
            t.integer = true;
            return true;  // int
        case 0x7F:
            t.fixed = 8;
            t.integer = true;
            return true;  // bigint
        case 0x3A:
        case 0x3B:
        case 0x7A:
            t.fixed = 4;
            return true;  // smalldatetime, real, smallmoney
        case 0x3C:
        case 0x3D:
        case 0x3E:
            t.fixed = 8;
            return true;  // money, datetime, float
        case 0x26:
        case 0x68:  // INTN, BITN
            t.kind = LengthKind::kByte;
            t.integer = true;
            return r.U8(b);
        case 0x24:
        case 0x6D:
        case 0x6E:
        case 0x6F:  // GUID, FLTN, MONEYN, DATETIMN
            t.kind = LengthKind::kByte;
            return r.U8(b);
        case 0x6A:
        case 0x6C:  // DECIMALN, NUMERICN: length, precision, scale
            t.kind = LengthKind::kByte;
            return r.Skip(3);
        case 0x28:  // DATEN
            t.kind = LengthKind::kByte;
            return true;
        case 0x29:
        case 0x2A:
        case 0x2B:  // TIMEN, DATETIME2N, DATETIMEOFFSETN: scale
            t.kind = LengthKind::kByte;
            return r.U8(b);
        case 0xA7:
        case 0xAF:
        case 0xE7:
        case 0xEF:  // varchar, char, nvarchar, nchar
            if (!r.U16(s) || !r.Skip(5)) return false;
            t.kind = s == 0xFFFF ? LengthKind::kPlp : LengthKind::kShort;
            t.text = true;
            t.unicode = t.type == 0xE7 || t.type == 0xEF;
            return true;
        case 0xA5:
        case 0xAD:  // varbinary, binary
            if (!r.U16(s)) return false;
            t.kind = s == 0xFFFF ? LengthKind::kPlp : LengthKind::kShort;
            return true;
        case 0x23:
        case 0x63:  // text, ntext
            if (!r.U32(l) || !r.Skip(5)) return false;
            t.kind = LengthKind::kLong;
            t.text = true;
            t.unicode = t.type == 0x63;
            return true;
        case 0x22:  // image
            t.kind = LengthKind::kLong;
            return r.U32(l);
        default:
            r.Fail();
            return false;
    }
}

// Reads a value of type t; data is left empty and null set for a NULL.
bool ReadValue(Reader& r, const TypeInfo& t, Bytes& data, bool& null) {
    data.clear();
    null = false;
    ByteSpan part;
    switch (t.kind) {
        case LengthKind::kFixed:
            if (!r.Take(t.fixed, part)) return false;
            null = t.type == 0x1F;
            break;
        case LengthKind::kByte: {
            std::uint8_t n = 0;
            if (!r.U8(n) || !r.Take(n, part)) return false;
            null = n == 0;
            break;
        }
        case LengthKind::kShort: {
            std::uint16_t n = 0;
            if (!r.U16(n)) return false;
            if (n == 0xFFFF) {
                null = true;
                return true;
            }
            if (!r.Take(n, part)) return false;
            break;
        }
        case LengthKind::kLong: {
            std::uint32_t n = 0;
            if (!r.U32(n)) return false;
            if (n == 0xFFFFFFFF) {
                null = true;
                return true;
            }
            if (!r.Take(n, part)) return false;
            break;
        }
        case LengthKind::kPlp: {
            std::uint64_t total = 0;
            if (!r.U64(total)) return false;
            if (total == ~std::uint64_t{0}) {
                null = true;
                return true;
            }
            for (;;) {
                std::uint32_t chunk = 0;
                if (!r.U32(chunk)) return false;
                if (chunk == 0) return true;
                if (!r.Take(chunk, part)) return false;
                data.insert(data.end(), part.begin(), part.end());
            }
        }
    }
    data.assign(part.begin(), part.end());
    return true;
}

}  // namespace

const char* ProcName(std::uint16_t proc_id) {
    return proc_id < kProcNames.size() ? kProcNames[proc_id] : "";
}

bool SkipAllHeaders(Reader& r) {
    std::uint32_t total = 0;
    if (!r.U32(total) || total < 4 || total - 4 > r.remaining()) {
        r.Fail();
        return false;
    }
    std::size_t left = total - 4;
    while (left > 0) {
        std::uint32_t length = 0;
        if (left < 6 || !r.U32(length) || length < 6 || length > left) {
            r.Fail();
            return false;
        }
        r.Skip(length - 4);
        left -= length;
    }
    return r.ok();
}

bool ParseSqlBatch(ByteSpan payload, std::string& text, std::string* error) {
    Reader r(payload);
    if (!SkipAllHeaders(r)) return SetError(error, "malformed ALL_HEADERS in SQL batch");
    ByteSpan rest;
    r.Take(r.remaining(), rest);
    if (rest.size() % 2 != 0) return SetError(error, "SQL batch text has an odd byte count");
    text = Ucs2ToCp1252(rest);
    return true;
}

bool ParseRpc(ByteSpan payload, RpcRequest& out, std::string* error) {
    out = {};
    Reader r(payload);
    if (!SkipAllHeaders(r)) return SetError(error, "malformed ALL_HEADERS in RPC");
    std::uint16_t name_length = 0;
    if (!r.U16(name_length)) return SetError(error, "RPC is truncated");
    if (name_length == 0xFFFF) {
        if (!r.U16(out.proc_id)) return SetError(error, "RPC is truncated");
        out.proc_name = ProcName(out.proc_id);
    } else {
        ByteSpan name;
        if (!r.Take(static_cast<std::size_t>(name_length) * 2, name))
            return SetError(error, "RPC procedure name is truncated");
        out.proc_name = Ucs2ToCp1252(name);
        out.proc_id = ProcIdOf(out.proc_name);
    }
    if (!r.U16(out.option_flags)) return SetError(error, "RPC is truncated");

    Bytes data;
    while (r.remaining() > 0) {
        std::uint8_t first = 0;
        ByteSpan peek;
        {
            Reader p = r;
            p.U8(first);
        }
        // 0x80, 0xFF and 0xFE separate further calls of the same request.
        if (first == 0x80 || first == 0xFF || first == 0xFE) break;

        RpcParam param;
        std::uint8_t name_chars = 0;
        if (!r.U8(name_chars) || !r.Take(static_cast<std::size_t>(name_chars) * 2, peek))
            return SetError(error, "RPC parameter name is truncated");
        param.name = Ucs2ToCp1252(peek);
        if (!r.U8(param.status)) return SetError(error, "RPC parameter is truncated");
        TypeInfo t;
        if (!ReadTypeInfo(r, t)) return SetError(error, "RPC parameter type is not supported");
        param.type = t.type;
        bool null = false;
        if (!ReadValue(r, t, data, null))
            return SetError(error, "RPC parameter value is truncated");
        param.is_null = null;
        if (!null && t.integer) {
            if (data.size() > 8) return SetError(error, "RPC integer parameter is too long");
            // tinyint and bit are unsigned; the wider integers are signed.
            param.integer = data.size() == 1 ? std::int64_t{data[0]} : LittleEndianSigned(data);
        } else if (!null && t.text) {
            if (t.unicode) {
                if (data.size() % 2 != 0) return SetError(error, "RPC text has an odd byte count");
                param.text = Ucs2ToCp1252(data);
            } else {
                param.text = std::string(data.begin(), data.end());
            }
        }
        out.params.push_back(std::move(param));
    }
    return true;
}

}  // namespace tdslite::protocol
