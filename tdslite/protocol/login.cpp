#include "protocol/login.h"

#include <array>

#include "protocol/codec.h"

namespace tdslite::protocol {
namespace {

constexpr std::size_t kLogin7FixedSize = 94;

bool SetError(std::string* error, const char* text) {
    if (error) *error = text;
    return false;
}

}  // namespace

bool ParsePrelogin(ByteSpan payload, PreloginRequest& out, std::string* error) {
    out = {};
    Reader r(payload);
    for (;;) {
        std::uint8_t token = 0;
        if (!r.U8(token)) return SetError(error, "PRELOGIN option table is not terminated");
        if (token == 0xFF) return true;
        std::uint16_t offset = 0;
        std::uint16_t length = 0;
        if (!r.U16BE(offset) || !r.U16BE(length))
            return SetError(error, "PRELOGIN option table is truncated");
        if (static_cast<std::size_t>(offset) + length > payload.size())
            return SetError(error, "PRELOGIN option lies outside the message");
        if (token == 0x01 && length >= 1) {
            out.has_encryption = true;
            out.encryption = payload[offset];
        }
    }
}

Bytes PreloginAnswer() {
    Bytes out;
    Writer w(out);
    // VERSION at 11 (6 bytes), ENCRYPTION at 17 (1 byte), terminator; 5 + 5 + 1 = 11 bytes.
    w.U8(0x00);
    w.U16BE(11);
    w.U16BE(6);
    w.U8(0x01);
    w.U16BE(17);
    w.U16BE(1);
    w.U8(0xFF);
    const std::array<std::uint8_t, 6> version = {0x10, 0x00, 0x10, 0x00, 0x00, 0x00};
    w.Raw(version);
    w.U8(0x02);  // encryption not supported: no TLS
    return out;
}

std::uint8_t DecodePasswordByte(std::uint8_t b) {
    b ^= 0xA5;
    return static_cast<std::uint8_t>((b << 4) | (b >> 4));
}

bool ParseLogin7(ByteSpan payload, LoginRequest& out, std::string* error) {
    out = {};
    if (payload.size() < kLogin7FixedSize) return SetError(error, "LOGIN7 is too short");
    Reader r(payload);
    std::uint32_t total = 0;
    r.U32(total);
    r.U32(out.tds_version);
    r.U32(out.packet_size);

    // Each text is an offset and a character count into the whole payload.
    auto text = [&](std::size_t at, std::string& field, bool password) {
        Reader f(payload.subspan(at, 4));
        std::uint16_t offset = 0;
        std::uint16_t chars = 0;
        f.U16(offset);
        f.U16(chars);
        const std::size_t bytes = static_cast<std::size_t>(chars) * 2;
        if (static_cast<std::size_t>(offset) + bytes > payload.size()) return false;
        ByteSpan raw = payload.subspan(offset, bytes);
        if (!password) {
            field = Ucs2ToCp1252(raw);
            return true;
        }
        Bytes plain(raw.begin(), raw.end());
        for (auto& b : plain) b = DecodePasswordByte(b);
        field = Ucs2ToCp1252(plain);
        return true;
    };
    if (!text(36, out.host, false) || !text(40, out.user, false) || !text(44, out.password, true) ||
        !text(48, out.app, false) || !text(52, out.server, false) ||
        !text(60, out.library, false) || !text(64, out.language, false) ||
        !text(68, out.database, false))
        return SetError(error, "LOGIN7 text field lies outside the message");
    return true;
}

}  // namespace tdslite::protocol
