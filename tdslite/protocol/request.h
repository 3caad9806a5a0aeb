// Client requests after login: SQL batches and remote procedure calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/wire.h"

namespace tdslite::protocol {

/// Skips the ALL_HEADERS block that starts every batch and RPC payload.  False when its total
/// length is below 4 or beyond the data, or a header inside it is malformed.
bool SkipAllHeaders(Reader& r);

/// Parses a SQL batch payload: ALL_HEADERS, then the statement text as UCS-2LE, which becomes
/// cp1252 (characters outside cp1252 become '?').  False, with *error set, on a malformed header
/// block or an odd number of text bytes.
bool ParseSqlBatch(ByteSpan payload, std::string& text, std::string* error);

/// Procedure ids of the RPCs a client may name by number.
enum ProcId : std::uint16_t {
    kSpCursor = 1,
    kSpCursorOpen = 2,
    kSpCursorPrepare = 3,
    kSpCursorExecute = 4,
    kSpCursorPrepExec = 5,
    kSpCursorUnprepare = 6,
    kSpCursorFetch = 7,
    kSpCursorOption = 8,
    kSpCursorClose = 9,
    kSpExecuteSql = 10,
    kSpPrepare = 11,
    kSpExecute = 12,
    kSpPrepExec = 13,
    kSpPrepExecRpc = 14,
    kSpUnprepare = 15,
};

/// One RPC parameter.  Integer types (tinyint to bigint, bit, INTN, BITN) fill `integer`; text
/// types (char, varchar, text and their national forms) fill `text` in cp1252.  Other types are
/// read over and reported only by their type byte.
struct RpcParam {
    std::string name;
    std::uint8_t status = 0;  // 0x01: output parameter
    std::uint8_t type = 0;    // TDS type byte
    bool is_null = false;
    std::optional<std::int64_t> integer;
    std::optional<std::string> text;
};

struct RpcRequest {
    std::uint16_t proc_id = 0;  // 0 when the procedure is named and not a known id
    std::string proc_name;      // the name as sent, or the known name of proc_id
    std::uint16_t option_flags = 0;
    std::vector<RpcParam> params;
};

/// Parses an RPC payload: ALL_HEADERS, the procedure (by id, or by name: the special procedures
/// named are mapped to their ids), option flags and the parameters of the first call.  A further
/// call after a batch separator is ignored.  False, with *error set, on truncated data or a
/// parameter type it cannot read over.
bool ParseRpc(ByteSpan payload, RpcRequest& out, std::string* error);

/// The name of a special procedure id, or "" for an unknown id.
const char* ProcName(std::uint16_t proc_id);

}  // namespace tdslite::protocol
