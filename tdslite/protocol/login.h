// The connection's opening exchange: PRELOGIN and LOGIN7 requests and the PRELOGIN answer.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/wire.h"

namespace tdslite::protocol {

/// What tdslite needs of a PRELOGIN request.
struct PreloginRequest {
    bool has_encryption = false;
    std::uint8_t encryption = 0;  // 0 off, 1 on, 2 not supported, 3 required
};

/// Parses the option table of a PRELOGIN payload.  False, with *error set, when the table runs
/// past the payload or an option's data lies outside it.
bool ParsePrelogin(ByteSpan payload, PreloginRequest& out, std::string* error);

/// The PRELOGIN answer payload: a version, and encryption "not supported" so that the login stays
/// in clear text; no instance, thread id or MARS.
Bytes PreloginAnswer();

/// The fields of LOGIN7 tdslite uses; texts converted to cp1252.
struct LoginRequest {
    std::uint32_t tds_version = 0;
    std::uint32_t packet_size = 0;
    std::string host;
    std::string user;
    std::string password;  // de-obfuscated
    std::string app;
    std::string server;
    std::string library;
    std::string language;
    std::string database;
};

/// Parses a LOGIN7 payload.  False, with *error set, when the fixed part is short or a text field
/// points outside the payload.
bool ParseLogin7(ByteSpan payload, LoginRequest& out, std::string* error);

/// The reverse of the password obfuscation of LOGIN7: each byte XOR 0xA5, then nibbles swapped.
std::uint8_t DecodePasswordByte(std::uint8_t b);

}  // namespace tdslite::protocol
