// Fuzz target for tdslite's protocol layer: the input is a client byte stream.
//  - Each request parser (PRELOGIN, LOGIN7, SQL batch, RPC) reads the whole input as a payload.
//  - The message assembler reassembles the stream, fed in pieces of varying size, and every
//    complete message goes to a session that has already logged in, so batches and the cursor
//    and prepared-statement RPCs run against a real engine.
// Nothing may crash, read out of bounds or hang.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/engine.h"
#include "protocol/login.h"
#include "protocol/packet.h"
#include "protocol/request.h"
#include "server/session.h"

namespace {

using tdslite::protocol::Bytes;
using tdslite::protocol::ByteSpan;

// A LOGIN7 payload for user "u" with password "p".
Bytes LoginPayload() {
    Bytes fixed(94, 0);
    const Bytes user = {'u', 0};
    const Bytes password = {static_cast<std::uint8_t>((('p' << 4) | ('p' >> 4)) ^ 0xA5), 0xA5};
    fixed[40] = 94;  // user at 94, 1 character
    fixed[42] = 1;
    fixed[44] = 96;  // password at 96, 1 character
    fixed[46] = 1;
    fixed[0] = 98;
    Bytes out = fixed;
    out.insert(out.end(), user.begin(), user.end());
    out.insert(out.end(), password.begin(), password.end());
    return out;
}

// What lives across runs: building an engine per input would dominate the run time.
struct Fixture {
    std::unique_ptr<tdslite::Engine> engine;
    tdslite::SessionSettings settings{"u", "p", 0};
    Bytes login = LoginPayload();
};

Fixture& Shared() {
    static Fixture fixture = [] {
        Fixture f;
        std::string error;
        f.engine = tdslite::Engine::Open("", &error);
        if (f.engine) {
            f.engine->ExecuteBatch(
                "CREATE TABLE t (a int NOT NULL PRIMARY KEY, b varchar(10) NULL, c char(3) NULL, "
                "d datetime NULL, e smallint NULL); "
                "INSERT INTO t VALUES (1, 'x', 'y', NULL, 2), (2, NULL, NULL, NULL, NULL)");
        }
        return f;
    }();
    return fixture;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteSpan input(data, size);
    std::string error;
    {
        tdslite::protocol::PreloginRequest prelogin;
        tdslite::protocol::ParsePrelogin(input, prelogin, &error);
        tdslite::protocol::LoginRequest login;
        tdslite::protocol::ParseLogin7(input, login, &error);
        std::string text;
        tdslite::protocol::ParseSqlBatch(input, text, &error);
        tdslite::protocol::RpcRequest rpc;
        tdslite::protocol::ParseRpc(input, rpc, &error);
    }

    Fixture& f = Shared();
    if (!f.engine) return 0;
    tdslite::Session session(*f.engine, f.settings, nullptr, 1);
    Bytes out;
    session.Handle({tdslite::protocol::kLogin7, f.login}, out);

    // Small caps keep runs fast; the 4 MiB limit itself is a constant the unit tests cover.
    tdslite::protocol::MessageAssembler assembler(64 * 1024);
    std::size_t at = 0;
    std::size_t piece = 1;
    while (at < size) {
        const std::size_t n = std::min(piece, size - at);
        assembler.Append(input.subspan(at, n));
        at += n;
        piece = piece * 3 % 61 + 1;  // 1, 4, 13, 40, ... in a fixed cycle
        tdslite::protocol::ClientMessage message;
        for (;;) {
            const auto status = assembler.Next(message);
            if (status != tdslite::protocol::MessageAssembler::Status::kReady) break;
            out.clear();
            const auto outcome = session.Handle(message, out);
            if (outcome != tdslite::Session::Outcome::kContinue) return 0;
        }
    }
    return 0;
}
