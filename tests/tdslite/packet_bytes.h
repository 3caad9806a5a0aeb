// Byte helpers for the packet-level tests: hex literals and client messages built by hand.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/wire.h"

namespace packettest {

using tdslite::protocol::Bytes;

/// Bytes from hex digits; blanks and '|' between them are ignored ("fd 10 00 | c3").
inline Bytes Hex(std::string_view text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v = -1;
        if (c >= '0' && c <= '9') v = c - '0';
        if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        if (v < 0) continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

/// ASCII text as UCS-2LE.
inline Bytes Ucs2(std::string_view ascii) {
    Bytes out;
    for (char c : ascii) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

/// The ALL_HEADERS block FreeTDS sends before a batch or RPC (one transaction descriptor).
inline Bytes AllHeaders() {
    return Hex("16 00 00 00 12 00 00 00 02 00 00 00 00 00 00 00 00 00 01 00 00 00");
}

/// A SQL batch payload: ALL_HEADERS and the text as UCS-2LE.
inline Bytes BatchPayload(std::string_view ascii) {
    return Join({AllHeaders(), Ucs2(ascii)});
}

/// A LOGIN7 payload as FreeTDS builds it, with the given texts (ASCII) and the password
/// obfuscated.
inline Bytes Login7Payload(std::string_view user, std::string_view password,
                           std::string_view database) {
    const std::string_view texts[] = {"host", user, password,     "",      "127.0.0.1",
                                      "",     "",   "us_english", database};
    // Offsets of the ib/cch pairs: host, user, password, app, server, extension (unused here),
    // library, language, database.
    const std::size_t pairs[] = {36, 40, 44, 48, 52, 56, 60, 64, 68};
    Bytes fixed(94, 0);
    Bytes data;
    for (std::size_t i = 0; i < 9; ++i) {
        const std::size_t offset = 94 + data.size();
        Bytes text = Ucs2(texts[i]);
        if (i == 2) {
            for (auto& b : text) b = static_cast<std::uint8_t>(((b << 4) | (b >> 4)) ^ 0xA5);
        }
        const std::size_t at = pairs[i];
        fixed[at] = static_cast<std::uint8_t>(offset);
        fixed[at + 1] = static_cast<std::uint8_t>(offset >> 8);
        fixed[at + 2] = static_cast<std::uint8_t>(texts[i].size());
        fixed[at + 3] = 0;
        data.insert(data.end(), text.begin(), text.end());
    }
    const std::size_t total = fixed.size() + data.size();
    fixed[0] = static_cast<std::uint8_t>(total);
    fixed[1] = static_cast<std::uint8_t>(total >> 8);
    fixed[4] = 0x04;  // TDS 7.4: 04 00 00 74
    fixed[7] = 0x74;
    fixed[9] = 0x10;  // packet size 4096
    return Join({fixed, data});
}

}  // namespace packettest
