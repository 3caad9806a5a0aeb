// Packet framing and request parsing at byte level: what the client sends, fed as bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "packet_bytes.h"
#include "protocol/codec.h"
#include "protocol/login.h"
#include "protocol/packet.h"
#include "protocol/request.h"

namespace {

using namespace tdslite::protocol;
using packettest::Hex;
using packettest::Join;
using packettest::Ucs2;

Bytes Packet(std::uint8_t type, std::uint8_t status, const Bytes& body) {
    const std::size_t length = body.size() + 8;
    Bytes out = {type,
                 status,
                 static_cast<std::uint8_t>(length >> 8),
                 static_cast<std::uint8_t>(length),
                 0,
                 0,
                 1,
                 0};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

TEST(MessageAssembler, JoinsPacketsUntilEndOfMessageWhateverTheReadSizes) {
    // A batch split into two packets (status 0, then 1), followed by an attention.
    const Bytes stream = Join({Packet(kSqlBatch, 0, Hex("01 02 03")),
                               Packet(kSqlBatch, 1, Hex("04 05")), Packet(kAttention, 1, {})});
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{8}, stream.size()}) {
        SCOPED_TRACE(piece);
        MessageAssembler assembler;
        std::vector<ClientMessage> messages;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            assembler.Append(ByteSpan(stream).subspan(at, std::min(piece, stream.size() - at)));
            ClientMessage m;
            MessageAssembler::Status s;
            while ((s = assembler.Next(m)) == MessageAssembler::Status::kReady)
                messages.push_back(m);
            ASSERT_EQ(s, MessageAssembler::Status::kNeedMore);
        }
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0].type, kSqlBatch);
        EXPECT_EQ(messages[0].payload, Hex("01 02 03 04 05"));
        EXPECT_EQ(messages[1].type, kAttention);
        EXPECT_TRUE(messages[1].payload.empty());
    }
}

TEST(MessageAssembler, RejectsStreamsThatAreNotTds) {
    struct Case {
        const char* name;
        Bytes stream;
        std::size_t limit;
    } cases[] = {
        {"length_below_header", Hex("01 01 00 07 00 00 01 00"), kMaxMessageSize},
        {"length_zero", Hex("12 01 00 00 00 00 00 00 ff"), kMaxMessageSize},
        {"length_over_packet_size", Hex("01 01 80 01 00 00 01 00"), kMaxMessageSize},
        {"server_packet_type", Hex("04 01 00 09 00 00 01 00 00"), kMaxMessageSize},
        {"text_not_tds", Join({Hex("47 45 54 20 2f 20 48 54")}), kMaxMessageSize},
        {"unknown_status_bits", Hex("01 41 00 09 00 00 01 00 00"), kMaxMessageSize},
        {"type_changes_mid_message",
         Join({Packet(kSqlBatch, 0, Hex("01")), Packet(kRpc, 1, Hex("02"))}), kMaxMessageSize},
        {"over_the_limit",
         Join({Packet(kSqlBatch, 0, Bytes(6, 0)), Packet(kSqlBatch, 1, Bytes(6, 0))}), 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MessageAssembler assembler(c.limit);
        assembler.Append(c.stream);
        ClientMessage m;
        EXPECT_EQ(assembler.Next(m), MessageAssembler::Status::kError);
        EXPECT_FALSE(assembler.error().empty());
        // Stays failed: later bytes do not resynchronise on garbage.
        assembler.Append(Packet(kSqlBatch, 1, Hex("01")));
        EXPECT_EQ(assembler.Next(m), MessageAssembler::Status::kError);
    }
}

TEST(AppendPackets, SplitsAtThePacketSizeAndMarksOnlyTheLastPacket) {
    struct Case {
        std::size_t payload;
        std::vector<std::size_t> lengths;  // packet lengths, headers included
    } cases[] = {
        {0, {8}}, {100, {108}}, {4088, {4096}}, {4089, {4096, 9}}, {10000, {4096, 4096, 1832}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        Bytes payload(c.payload);
        for (std::size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<std::uint8_t>(i * 7);
        Bytes out;
        AppendPackets(out, kTabularResult, payload, 0x0033);
        // Walk the packets and join them again.
        Bytes joined;
        std::size_t at = 0;
        std::vector<std::size_t> lengths;
        while (at < out.size()) {
            ASSERT_LE(at + 8, out.size());
            const std::size_t length = (out[at + 2] << 8) | out[at + 3];
            lengths.push_back(length);
            EXPECT_EQ(out[at], kTabularResult);
            const bool last = at + length == out.size();
            EXPECT_EQ(out[at + 1], last ? 1 : 0);
            EXPECT_EQ(out[at + 4], 0x00);  // SPID, big-endian
            EXPECT_EQ(out[at + 5], 0x33);
            joined.insert(joined.end(), out.begin() + static_cast<long>(at) + 8,
                          out.begin() + static_cast<long>(at + length));
            at += length;
        }
        EXPECT_EQ(lengths, c.lengths);
        EXPECT_EQ(joined, payload);
    }
}

TEST(Cp1252, ConvertsBothWaysAndReplacesWhatItLacks) {
    struct Case {
        std::uint32_t unicode;
        std::uint8_t byte;
    } both_ways[] = {
        {'A', 'A'},     {0x00FC, 0xFC}, {0x00A0, 0xA0}, {0x20AC, 0x80},
        {0x0178, 0x9F}, {0x2122, 0x99}, {0x0081, 0x81},  // undefined in cp1252: kept as the control
                                                         // character
    };
    for (const auto& c : both_ways) {
        SCOPED_TRACE(c.unicode);
        EXPECT_EQ(UnicodeToCp1252(c.unicode), c.byte);
        EXPECT_EQ(Cp1252ToUnicode(c.byte), c.unicode);
    }
    // Characters without a cp1252 byte; U+0080 is not the euro sign.
    for (std::uint32_t missing : {0x0080u, 0x0100u, 0x4E2Du, 0xFFFDu})
        EXPECT_EQ(UnicodeToCp1252(missing), '?') << missing;
    // A surrogate pair is one character and becomes one '?'.
    EXPECT_EQ(Ucs2ToCp1252(Hex("61 00 3d d8 00 de 62 00")), "a?b");
    EXPECT_EQ(Ucs2ToCp1252(Hex("3d d8 62 00")), "?b");  // unpaired high surrogate
}

TEST(ParseSqlBatch, SkipsAllHeadersAndConvertsTheText) {
    std::string text;
    std::string error;
    // "Mü€ 中" as UCS-2LE.
    ASSERT_TRUE(ParseSqlBatch(
        Join({packettest::AllHeaders(), Hex("4d 00 fc 00 ac 20 20 00 2d 4e")}), text, &error))
        << error;
    EXPECT_EQ(text, "M\xFC\x80 ?");

    ASSERT_TRUE(ParseSqlBatch(packettest::BatchPayload("  SELECT 1  "), text, &error));
    EXPECT_EQ(text, "  SELECT 1  ");  // verbatim, blanks included

    struct Bad {
        const char* name;
        Bytes payload;
    } bad[] = {
        {"empty", {}},
        {"total_below_4", Join({Hex("03 00 00 00"), Ucs2("x")})},
        {"total_beyond_data", Join({Hex("ff 00 00 00"), Ucs2("SELECT 1")})},
        {"inner_header_too_long", Hex("0a 00 00 00 20 00 00 00 02 00")},
        {"odd_text", Join({packettest::AllHeaders(), Hex("41")})},
        {"no_all_headers", Ucs2("SELECT 1")},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.name);
        EXPECT_FALSE(ParseSqlBatch(b.payload, text, &error));
    }
}

// sp_cursoropen as FreeTDS sends it for SQL_CONCUR_LOCK.
Bytes CursorOpenPayload(std::string_view sql) {
    const std::size_t bytes = sql.size() * 2;
    const Bytes length = {static_cast<std::uint8_t>(bytes), static_cast<std::uint8_t>(bytes >> 8),
                          0, 0};
    return Join({packettest::AllHeaders(), Hex("ff ff 02 00 00 00"),
                 Hex("00 01 26 04 00"),  // @cursor OUTPUT, NULL
                 Hex("00 00 63"), length, Hex("09 04 d0 00 34"), length, Ucs2(sql),  // NTEXT
                 Hex("00 01 26 04 04 04 00 00 00"),                                  // scrollopt 4
                 Hex("00 01 26 04 04 02 20 00 00"),                                  // ccopt 0x2002
                 Hex("00 01 26 04 04 00 00 00 00")});                                // rowcount 0
}

TEST(ParseRpc, ReadsCursorOpenAsFreeTdsSendsIt) {
    RpcRequest rpc;
    std::string error;
    ASSERT_TRUE(ParseRpc(CursorOpenPayload("SELECT a FROM t"), rpc, &error)) << error;
    EXPECT_EQ(rpc.proc_id, kSpCursorOpen);
    EXPECT_EQ(rpc.proc_name, "sp_cursoropen");
    ASSERT_EQ(rpc.params.size(), 5u);
    EXPECT_TRUE(rpc.params[0].is_null);
    EXPECT_EQ(rpc.params[0].status, 0x01);
    EXPECT_EQ(rpc.params[1].text, "SELECT a FROM t");
    EXPECT_EQ(rpc.params[2].integer, 4);
    EXPECT_EQ(rpc.params[3].integer, 0x2002);
    EXPECT_EQ(rpc.params[4].integer, 0);
}

TEST(ParseRpc, ReadsOtherParameterFormsAndNamedProcedures) {
    RpcRequest rpc;
    std::string error;
    // sp_executesql by name, with an nvarchar statement, a NULL nvarchar(max) (PLP) and a varchar
    // sent in chunks (PLP), a negative smallint, a tinyint and a bigint.
    const Bytes payload = Join({
        packettest::AllHeaders(),
        Hex("0d 00"),
        Ucs2("SP_EXECUTESQL"),
        Hex("00 00"),
        Hex("00 00 e7 10 00 09 04 d0 00 34 08 00"),
        Ucs2("SELE"),
        Hex("00 00 e7 ff ff 09 04 d0 00 34 ff ff ff ff ff ff ff ff"),
        Hex("00 00 a7 ff ff 09 04 d0 00 34 fe ff ff ff ff ff ff ff 02 00 00 00 ab fc 01 00 00 00 "
            "63 00 00 00 00"),
        Hex("00 00 34 fe ff"),
        Hex("00 00 30 ff"),
        Hex("00 00 26 08 08 00 00 00 00 01 00 00 00"),
    });
    ASSERT_TRUE(ParseRpc(payload, rpc, &error)) << error;
    EXPECT_EQ(rpc.proc_id, kSpExecuteSql);
    ASSERT_EQ(rpc.params.size(), 6u);
    EXPECT_EQ(rpc.params[0].text, "SELE");
    EXPECT_TRUE(rpc.params[1].is_null);
    EXPECT_EQ(rpc.params[2].text,
              "\xAB\xFC"
              "c");
    EXPECT_EQ(rpc.params[3].integer, -2);
    EXPECT_EQ(rpc.params[4].integer, 255);
    EXPECT_EQ(rpc.params[5].integer, std::int64_t{1} << 32);

    // A call by an unknown name keeps the name and has id 0.
    ASSERT_TRUE(ParseRpc(Join({packettest::AllHeaders(), Hex("02 00"), Ucs2("xp"), Hex("00 00")}),
                         rpc, &error));
    EXPECT_EQ(rpc.proc_id, 0);
    EXPECT_EQ(rpc.proc_name, "xp");
}

TEST(ParseRpc, RejectsTruncatedAndUnknownData) {
    const Bytes good = CursorOpenPayload("SELECT 1");
    RpcRequest rpc;
    std::string error;
    // A cut at a parameter boundary is a shorter, well-formed call; every other cut is noticed.
    const std::size_t params_at = 22 + 6;
    const std::size_t text_param = 3 + 4 + 5 + 4 + 2 * 8;
    std::vector<std::size_t> boundaries = {params_at, params_at + 5, params_at + 5 + text_param};
    for (int i = 1; i <= 3; ++i)
        boundaries.push_back(boundaries[2] + 9 * static_cast<std::size_t>(i));
    ASSERT_EQ(boundaries.back(), good.size());
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        const bool boundary =
            std::find(boundaries.begin(), boundaries.end(), cut) != boundaries.end();
        EXPECT_EQ(ParseRpc(ByteSpan(good).first(cut), rpc, &error), boundary) << "cut at " << cut;
    }
    struct Bad {
        const char* name;
        Bytes payload;
    } bad[] = {
        {"unknown_type", Join({packettest::AllHeaders(), Hex("ff ff 0a 00 00 00 00 00 f1 00")})},
        {"name_beyond_data", Join({packettest::AllHeaders(), Hex("ff 00 41 00")})},
        {"text_length_beyond_data",
         Join({packettest::AllHeaders(),
               Hex("ff ff 0a 00 00 00 00 00 e7 10 00 09 04 d0 00 34 10 00 41 00")})},
        {"odd_unicode_text",
         Join({packettest::AllHeaders(),
               Hex("ff ff 0a 00 00 00 00 00 e7 10 00 09 04 d0 00 34 01 00 41")})},
        {"intn_too_long",
         Join({packettest::AllHeaders(),
               Hex("ff ff 07 00 00 00 00 00 26 10 09 00 00 00 00 00 00 00 00 00")})},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.name);
        EXPECT_FALSE(ParseRpc(b.payload, rpc, &error));
    }
}

TEST(Prelogin, ReadsTheClientsRequestAndRefusesEncryption) {
    // The 50-byte payload FreeTDS sends.
    const Bytes request =
        Hex("00 00 1a 00 06 01 00 20 00 01 02 00 21 00 0c 03 00 2d 00 04 04 00 31 00 01 ff"
            "09 00 00 00 00 00 00 4d 53 53 51 4c 53 65 72 76 65 72 00 01 02 03 04 00");
    PreloginRequest parsed;
    std::string error;
    ASSERT_TRUE(ParsePrelogin(request, parsed, &error)) << error;
    EXPECT_TRUE(parsed.has_encryption);
    EXPECT_EQ(parsed.encryption, 0x00);
    // VERSION and ENCRYPTION = 2 (not supported) only: the client stays in clear text.
    EXPECT_EQ(PreloginAnswer(), Hex("00 00 0b 00 06 01 00 11 00 01 ff 10 00 10 00 00 00 02"));

    for (const Bytes& bad :
         {Bytes{}, Hex("00 00 1a"), Hex("01 00 10 00 01 ff"), Hex("00 00 05 00 06 ff")}) {
        EXPECT_FALSE(ParsePrelogin(bad, parsed, &error));
    }
}

TEST(Login7, ReadsUserDatabaseAndTheObfuscatedPassword) {
    EXPECT_EQ(DecodePasswordByte(0x92), 's');  // as the client sends 's'
    LoginRequest login;
    std::string error;
    const Bytes payload = packettest::Login7Payload("zeit", "gehe\xFCim", "zeitdb");
    ASSERT_TRUE(ParseLogin7(payload, login, &error)) << error;
    EXPECT_EQ(login.user, "zeit");
    EXPECT_EQ(login.password, "gehe\xFCim");
    EXPECT_EQ(login.database, "zeitdb");
    EXPECT_EQ(login.language, "us_english");
    EXPECT_EQ(login.tds_version, 0x74000004u);
    EXPECT_EQ(login.packet_size, 4096u);

    // Short fixed part, and a text pointing past the end.
    EXPECT_FALSE(ParseLogin7(ByteSpan(payload).first(93), login, &error));
    Bytes beyond = payload;
    beyond[42] = 0xFF;  // user name: 255 characters
    EXPECT_FALSE(ParseLogin7(beyond, login, &error));
}

}  // namespace
