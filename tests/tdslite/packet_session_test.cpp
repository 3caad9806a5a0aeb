// A connection's conversation without sockets: client messages in, answer bytes out, checked
// token by token.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "packet_bytes.h"
#include "protocol/login.h"
#include "protocol/packet.h"
#include "protocol/wire.h"
#include "server/session.h"
#include "support/tdslite_process.h"

namespace {

using namespace tdslite::protocol;
using packettest::Hex;
using packettest::Join;
using packettest::Ucs2;
using tdslite::Session;

// One token of an answer, with the fields the tests look at.
struct Tok {
    std::uint8_t token = 0;
    std::uint16_t status = 0;   // DONE*
    std::uint64_t count = 0;    // DONE*
    std::int32_t number = 0;    // ERROR/INFO number, RETURNSTATUS, RETURNVALUE int
    bool null = false;          // RETURNVALUE NULL
    std::uint16_t columns = 0;  // COLMETADATA
    std::string text;           // ERROR/INFO message, ASCII
};

// Splits an answer into tokens.  Knows the column types tdslite sends; `types` keeps the wire
// types of the last COLMETADATA seen, for rows of a cursor fetched in later answers.  Fails the
// test on anything it cannot walk.
std::vector<Tok> Walk(const Bytes& answer, std::vector<std::uint8_t>& types) {
    // Packets first: join the payloads.
    Bytes payload;
    for (std::size_t at = 0; at + 8 <= answer.size();) {
        const std::size_t length = (answer[at + 2] << 8) | answer[at + 3];
        EXPECT_EQ(answer[at], kTabularResult);
        payload.insert(payload.end(), answer.begin() + static_cast<long>(at) + 8,
                       answer.begin() + static_cast<long>(at + length));
        at += length;
    }
    std::vector<Tok> out;
    Reader r(payload);
    auto skip_value = [&](std::size_t i) {
        std::uint8_t n = 0;
        std::uint16_t s = 0;
        switch (types[i]) {
            case 0x26:
            case 0x6F:
                r.U8(n);
                r.Skip(n);
                break;
            case 0x38:
                r.Skip(4);
                break;
            case 0x34:
                r.Skip(2);
                break;
            case 0x7F:
            case 0x3D:
                r.Skip(8);
                break;
            default:
                r.U16(s);
                r.Skip(s);
                break;
        }
    };
    while (r.ok() && r.remaining() > 0) {
        Tok t;
        r.U8(t.token);
        std::uint16_t length = 0;
        switch (t.token) {
            case kTokenDone:
            case kTokenDoneProc:
            case kTokenDoneInProc: {
                std::uint16_t curcmd = 0;
                r.U16(t.status);
                r.U16(curcmd);
                r.U64(t.count);
                break;
            }
            case kTokenError:
            case kTokenInfo:
            case kTokenLoginAck:
            case kTokenEnvChange: {
                r.U16(length);
                ByteSpan body;
                r.Take(length, body);
                if (t.token == kTokenError || t.token == kTokenInfo) {
                    t.number = static_cast<std::int32_t>(body[0] | body[1] << 8 | body[2] << 16 |
                                                         body[3] << 24);
                    const std::size_t chars = body[6] | body[7] << 8;
                    for (std::size_t c = 0; c < chars; ++c)
                        t.text.push_back(static_cast<char>(body[8 + 2 * c]));
                }
                break;
            }
            case kTokenReturnStatus:
                r.I32(t.number);
                break;
            case kTokenReturnValue: {
                std::uint8_t n = 0;
                r.Skip(2);                       // ordinal
                r.U8(n);                         // name
                r.Skip(n * 2u + 1 + 4 + 2 + 2);  // name, status, user type, flags, INTN 4
                r.U8(n);
                t.null = n == 0;
                if (n == 4) r.I32(t.number);
                break;
            }
            case kTokenColMetadata: {
                r.U16(t.columns);
                types.clear();
                for (std::uint16_t i = 0; i < t.columns; ++i) {
                    std::uint8_t type = 0, n = 0;
                    std::uint16_t flags = 0;
                    r.Skip(4);
                    r.U16(flags);
                    r.U8(type);
                    if (type == 0x26 || type == 0x6F) r.Skip(1);
                    if (type == 0xA7 || type == 0xAF) r.Skip(7);
                    r.U8(n);
                    r.Skip(n * 2u);
                    types.push_back(type);
                }
                break;
            }
            case kTokenRow:
                for (std::size_t i = 0; i < types.size(); ++i) skip_value(i);
                break;
            case kTokenNbcRow: {
                ByteSpan bitmap;
                r.Take((types.size() + 7) / 8, bitmap);
                for (std::size_t i = 0; r.ok() && i < types.size(); ++i) {
                    if (!(bitmap[i / 8] & (1u << (i % 8)))) skip_value(i);
                }
                break;
            }
            default:
                ADD_FAILURE() << "unknown token " << int(t.token);
                return out;
        }
        EXPECT_TRUE(r.ok()) << "token " << int(t.token) << " runs past the answer";
        out.push_back(t);
    }
    return out;
}

std::vector<std::uint8_t> TokenTypes(const std::vector<Tok>& toks) {
    std::vector<std::uint8_t> types;
    for (const auto& t : toks) types.push_back(t.token);
    return types;
}

ClientMessage Msg(std::uint8_t type, Bytes payload) {
    return {type, std::move(payload)};
}

Bytes IntParam(std::optional<std::int32_t> v, bool output = false) {
    Bytes out = {0x00, static_cast<std::uint8_t>(output ? 1 : 0), 0x26, 0x04};
    if (!v) {
        out.push_back(0);
        return out;
    }
    const auto u = static_cast<std::uint32_t>(*v);
    return Join(
        {out, Bytes{4, static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
                    static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)}});
}

Bytes RpcPayload(std::uint16_t proc, std::uint16_t flags, std::initializer_list<Bytes> params) {
    Bytes out = Join(
        {packettest::AllHeaders(),
         Bytes{0xFF, 0xFF, static_cast<std::uint8_t>(proc), static_cast<std::uint8_t>(proc >> 8),
               static_cast<std::uint8_t>(flags), static_cast<std::uint8_t>(flags >> 8)}});
    for (const auto& p : params) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes NtextParam(std::string_view ascii) {
    const std::size_t n = ascii.size() * 2;
    const Bytes length = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), 0, 0};
    return Join({Hex("00 00 63"), length, Hex("09 04 d0 00 34"), length, Ucs2(ascii)});
}

Bytes CursorOpen(std::string_view sql) {
    return RpcPayload(kSpCursorOpen, 0,
                      {IntParam(std::nullopt, true), NtextParam(sql), IntParam(4, true),
                       IntParam(0x2002, true), IntParam(0, true)});
}
Bytes CursorFetch(std::int32_t handle, std::int32_t nrows) {
    return RpcPayload(kSpCursorFetch, 2,
                      {IntParam(handle), IntParam(2), IntParam(std::nullopt), IntParam(nrows)});
}
Bytes CursorClose(std::int32_t handle) {
    return RpcPayload(kSpCursorClose, 2, {IntParam(handle)});
}

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        engine_ = tdslite::Engine::Open("", &error);
        ASSERT_NE(engine_, nullptr) << error;
        log_ = tdslite::StatementLog::Open(dir_.File("log"), &error);
        ASSERT_NE(log_, nullptr) << error;
        settings_ = {"zeit", "geheim", 0};
    }
    Session::Outcome Send(Session& s, const ClientMessage& m, std::vector<Tok>* toks = nullptr) {
        last_.clear();
        const auto outcome = s.Handle(m, last_);
        if (toks) *toks = Walk(last_, column_types_);
        return outcome;
    }
    void LogIn(Session& s) {
        ASSERT_EQ(Send(s, Msg(kPrelogin, Hex("00 00 06 00 06 ff 09 00 00 00 00 00"))),
                  Session::Outcome::kContinue);
        std::vector<Tok> toks;
        ASSERT_EQ(Send(s, Msg(kLogin7, packettest::Login7Payload("zeit", "geheim", "")), &toks),
                  Session::Outcome::kContinue);
        ASSERT_TRUE(s.logged_in());
    }
    testsupport::TempDir dir_;
    std::unique_ptr<tdslite::Engine> engine_;
    std::unique_ptr<tdslite::StatementLog> log_;
    tdslite::SessionSettings settings_;
    Bytes last_;
    std::vector<std::uint8_t> column_types_;
};

TEST_F(SessionTest, LoginAcceptsTheOneUserAndRefusesOthers) {
    {
        Session s(*engine_, settings_, log_.get(), 1);
        ASSERT_EQ(Send(s, Msg(kPrelogin, Hex("01 00 06 00 01 ff 00"))),
                  Session::Outcome::kContinue);
        EXPECT_EQ(last_, Join({Hex("04 01 00 1a 00 33 01 00"), PreloginAnswer()}));
        std::vector<Tok> toks;
        ASSERT_EQ(Send(s, Msg(kLogin7, packettest::Login7Payload("ZEIT", "geheim", "zeit")), &toks),
                  Session::Outcome::kContinue);
        const auto types = TokenTypes(toks);
        ASSERT_FALSE(toks.empty());
        EXPECT_NE(std::find(types.begin(), types.end(), kTokenLoginAck), types.end());
        EXPECT_EQ(toks.back().token, kTokenDone);
        EXPECT_EQ(toks.back().status, kDoneFinal);
    }
    for (const auto& [user, password] :
         {std::pair{"zeit", "Geheim"}, {"sa", "geheim"}, {"zeit", ""}}) {
        SCOPED_TRACE(std::string(user) + "/" + password);
        Session s(*engine_, settings_, log_.get(), 2);
        std::vector<Tok> toks;
        EXPECT_EQ(Send(s, Msg(kLogin7, packettest::Login7Payload(user, password, "")), &toks),
                  Session::Outcome::kClose);
        ASSERT_EQ(toks.size(), 2u);
        EXPECT_EQ(toks[0].token, kTokenError);
        EXPECT_EQ(toks[0].number, 18456);
        EXPECT_EQ(toks[1].token, kTokenDone);
        EXPECT_EQ(toks[1].status, kDoneError);
        EXPECT_FALSE(s.logged_in());
    }
}

TEST_F(SessionTest, OutOfOrderOrUnknownMessagesCloseWithoutAnswer) {
    struct Case {
        const char* name;
        bool log_in_first;
        ClientMessage message;
    } cases[] = {
        {"batch_before_login", false, Msg(kSqlBatch, packettest::BatchPayload("SELECT 1"))},
        {"rpc_before_login", false, Msg(kRpc, CursorClose(1))},
        {"attention_before_login", false, Msg(kAttention, {})},
        {"second_login", true, Msg(kLogin7, packettest::Login7Payload("zeit", "geheim", ""))},
        {"second_prelogin", true, Msg(kPrelogin, Hex("ff"))},
        {"unknown_type", true, Msg(0x07, Hex("00"))},
        {"server_type_from_client", true, Msg(kTabularResult, Hex("fd 00 00"))},
        {"malformed_login", false, Msg(kLogin7, Hex("00 01 02"))},
        {"malformed_prelogin", false, Msg(kPrelogin, Hex("00 00 40 00 06 ff"))},
        {"malformed_batch", true, Msg(kSqlBatch, Ucs2("SELECT 1"))},
        {"malformed_rpc", true, Msg(kRpc, Join({packettest::AllHeaders(), Hex("ff ff 02")}))},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(*engine_, settings_, log_.get(), 1);
        if (c.log_in_first) LogIn(s);
        EXPECT_EQ(Send(s, c.message), Session::Outcome::kClose);
        EXPECT_TRUE(last_.empty());
        EXPECT_FALSE(s.close_reason().empty());
    }
}

TEST_F(SessionTest, AttentionIsAcknowledgedWithDoneAttn) {
    Session s(*engine_, settings_, log_.get(), 1);
    LogIn(s);
    EXPECT_EQ(Send(s, Msg(kAttention, {})), Session::Outcome::kContinue);
    EXPECT_EQ(last_, Hex("04 01 00 15 00 33 01 00 fd 20 00 00 00 00 00 00 00 00 00 00 00"));
}

TEST_F(SessionTest, BatchResultsEndEachStatementWithItsDone) {
    Session s(*engine_, settings_, log_.get(), 1);
    LogIn(s);
    std::vector<Tok> toks;
    Send(s, Msg(kSqlBatch, packettest::BatchPayload("CREATE TABLE t (a int, b varchar(5))")),
         &toks);
    ASSERT_EQ(toks.size(), 1u);
    EXPECT_EQ(toks[0].token, kTokenDone);
    EXPECT_EQ(toks[0].status & kDoneMore, 0);

    Send(s, Msg(kSqlBatch, packettest::BatchPayload("INSERT INTO t VALUES (1, 'x'), (2, NULL)")),
         &toks);
    ASSERT_EQ(toks.size(), 1u);
    EXPECT_EQ(toks[0].status, kDoneCount);  // without COUNT the client reports SQL_NO_DATA
    EXPECT_EQ(toks[0].count, 2u);

    Send(s,
         Msg(kSqlBatch, packettest::BatchPayload("SELECT a FROM t; SELECT b FROM t WHERE a = 9")),
         &toks);
    EXPECT_EQ(TokenTypes(toks),
              (std::vector<std::uint8_t>{kTokenColMetadata, kTokenRow, kTokenRow, kTokenDone,
                                         kTokenColMetadata, kTokenDone}));
    EXPECT_EQ(toks[3].status, kDoneMore | kDoneCount);
    EXPECT_EQ(toks[5].status & kDoneMore, 0);

    // The error comes first, with the error bit on its DONE.
    Send(s, Msg(kSqlBatch, packettest::BatchPayload("SELECT a FROM missing")), &toks);
    EXPECT_EQ(TokenTypes(toks), (std::vector<std::uint8_t>{kTokenError, kTokenDone}));
    EXPECT_EQ(toks[0].number, 208);
    EXPECT_EQ(toks[1].status & kDoneError, kDoneError);
}

TEST_F(SessionTest, ServerCursorOpenFetchClose) {
    Session s(*engine_, settings_, log_.get(), 1);
    LogIn(s);
    Send(s, Msg(kSqlBatch, packettest::BatchPayload(
                               "CREATE TABLE t (a int); INSERT INTO t VALUES (1), (2), (3)")));

    std::vector<Tok> toks;
    Send(s, Msg(kRpc, CursorOpen("SELECT a FROM t")), &toks);
    EXPECT_EQ(TokenTypes(toks),
              (std::vector<std::uint8_t>{kTokenColMetadata, kTokenDoneInProc, kTokenReturnStatus,
                                         kTokenReturnValue, kTokenReturnValue, kTokenReturnValue,
                                         kTokenReturnValue, kTokenDoneProc}));
    ASSERT_GE(toks.size(), 8u);
    const std::int32_t handle = toks[3].number;
    EXPECT_NE(handle, 0);  // 0 would mean "no cursor" to the client
    EXPECT_EQ(toks.back().status, kDoneFinal);

    // At most nrows rows per fetch; past the end, none.
    for (const auto& [nrows, expected_rows] : {std::pair{1, 1}, {5, 2}, {1, 0}}) {
        SCOPED_TRACE(nrows);
        Send(s, Msg(kRpc, CursorFetch(handle, nrows)), &toks);
        const auto types = TokenTypes(toks);
        EXPECT_EQ(std::count(types.begin(), types.end(), kTokenRow), expected_rows);
        ASSERT_GE(toks.size(), 3u);
        EXPECT_EQ(toks[toks.size() - 3].token, kTokenDoneInProc);
        EXPECT_EQ(toks[toks.size() - 3].count, static_cast<std::uint64_t>(expected_rows));
        EXPECT_EQ(toks.back().token, kTokenDoneProc);
    }
    // Naming the cursor (sp_cursoroption) and closing it.
    Send(s,
         Msg(kRpc, RpcPayload(kSpCursorOption, 0,
                              {IntParam(handle), IntParam(2),
                               Join({Hex("00 00 e7 08 00 09 04 d0 00 34 04 00"), Ucs2("cu")})})),
         &toks);
    EXPECT_EQ(TokenTypes(toks), (std::vector<std::uint8_t>{kTokenReturnStatus, kTokenDoneProc}));
    Send(s, Msg(kRpc, CursorClose(handle)), &toks);
    EXPECT_EQ(TokenTypes(toks), (std::vector<std::uint8_t>{kTokenReturnStatus, kTokenDoneProc}));
    EXPECT_EQ(toks.back().status, kDoneFinal);

    // Closed: fetching and closing again are errors.
    for (const Bytes& rpc : {CursorFetch(handle, 1), CursorClose(handle)}) {
        Send(s, Msg(kRpc, rpc), &toks);
        ASSERT_FALSE(toks.empty());
        EXPECT_EQ(toks.front().token, kTokenError);
        EXPECT_EQ(toks.back().token, kTokenDoneProc);
        EXPECT_EQ(toks.back().status & kDoneError, kDoneError);
    }
}

TEST_F(SessionTest, EveryDoneInProcCarriesMore) {
    Session s(*engine_, settings_, log_.get(), 1);
    LogIn(s);
    Send(s, Msg(kSqlBatch,
                packettest::BatchPayload("CREATE TABLE t (a int); INSERT INTO t VALUES (1)")));
    const Bytes requests[] = {
        CursorOpen("SELECT a FROM t"),
        CursorOpen("SELECT a FROM missing"),
        CursorOpen("INSERT INTO t VALUES (5)"),
        CursorFetch(1, 1),
        CursorFetch(99, 1),
        RpcPayload(
            kSpPrepExec, 0,
            {IntParam(std::nullopt, true), Hex("00 00 63 ff ff ff ff 09 04 d0 00 34 ff ff ff ff"),
             NtextParam("SELECT a FROM t; SELECT 2")}),
        RpcPayload(kSpExecuteSql, 0, {NtextParam("SELECT a FROM missing")}),
    };
    for (const auto& request : requests) {
        std::vector<Tok> toks;
        Send(s, Msg(kRpc, request), &toks);
        ASSERT_FALSE(toks.empty());
        for (std::size_t i = 0; i + 1 < toks.size(); ++i) {
            const std::uint8_t t = toks[i].token;
            if (t == kTokenDoneInProc || t == kTokenDone || t == kTokenDoneProc) {
                EXPECT_EQ(toks[i].status & kDoneMore, kDoneMore) << "token " << i;
            }
        }
        EXPECT_EQ(toks.back().token, kTokenDoneProc);
        EXPECT_EQ(toks.back().status & kDoneMore, 0);
    }
}

TEST_F(SessionTest, CursorErrorsComeBeforeAnyMetadata) {
    Session s(*engine_, settings_, log_.get(), 1);
    LogIn(s);
    std::vector<Tok> toks;
    Send(s, Msg(kRpc, CursorOpen("SELECT a FROM missing")), &toks);
    EXPECT_EQ(TokenTypes(toks), (std::vector<std::uint8_t>{kTokenError, kTokenDoneProc}));
    EXPECT_EQ(toks[0].number, 208);
    EXPECT_EQ(toks[1].status, kDoneError);
}

// Messages that name a table with its database name the login's database, master without one.
TEST_F(SessionTest, MessagesNameTheLoginsDatabase) {
    Session setup(*engine_, settings_, log_.get(), 1);
    LogIn(setup);
    Send(setup, Msg(kSqlBatch, packettest::BatchPayload("CREATE TABLE t (a int NOT NULL)")));
    for (const auto& [database, expected] :
         {std::pair{"zeitdb", "zeitdb.dbo.t"}, std::pair{"", "master.dbo.t"}}) {
        SCOPED_TRACE(database);
        Session s(*engine_, settings_, log_.get(), 2);
        ASSERT_EQ(Send(s, Msg(kLogin7, packettest::Login7Payload("zeit", "geheim", database))),
                  Session::Outcome::kContinue);
        std::vector<Tok> toks;
        Send(s, Msg(kSqlBatch, packettest::BatchPayload("INSERT INTO t VALUES (NULL)")), &toks);
        ASSERT_FALSE(toks.empty());
        EXPECT_EQ(toks[0].number, 515);
        EXPECT_NE(toks[0].text.find(expected), std::string::npos) << toks[0].text;
    }
}

TEST_F(SessionTest, StatementsAreLoggedAndTheNthIsDropped) {
    settings_.drop_after = 3;
    Session s(*engine_, settings_, log_.get(), 7);
    LogIn(s);
    EXPECT_EQ(Send(s, Msg(kSqlBatch, packettest::BatchPayload("SELECT 1"))),
              Session::Outcome::kContinue);
    EXPECT_EQ(Send(s, Msg(kRpc, CursorOpen("SELECT 2"))), Session::Outcome::kContinue);
    // Fetches and closes are not statements.
    EXPECT_EQ(Send(s, Msg(kRpc, CursorFetch(1, 1))), Session::Outcome::kContinue);
    EXPECT_EQ(Send(s, Msg(kRpc, CursorClose(1))), Session::Outcome::kContinue);
    EXPECT_EQ(Send(s, Msg(kSqlBatch, packettest::BatchPayload("SELECT 3"))),
              Session::Outcome::kDrop);
    EXPECT_TRUE(last_.empty());
    log_.reset();  // flushes and closes
    EXPECT_EQ(testsupport::ReadFileBytes(dir_.File("log")),
              "7\tSELECT 1\n7\tSELECT 2\n7\tSELECT 3\n");
}

}  // namespace
