// One client connection's conversation, without sockets: it takes complete client messages and
// produces the answer bytes (packets included).  The connection loop feeds it, and tests and the
// fuzz target can drive it with bytes alone.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "protocol/packet.h"
#include "protocol/request.h"
#include "protocol/tokens.h"
#include "server/statement_log.h"

namespace tdslite {

struct SessionSettings {
    std::string user;      // the one login accepted (name compared without regard to case)
    std::string password;  // compared exactly
    int drop_after = 0;    // close without answering on receiving this statement; 0: never
};

class Session {
  public:
    /// `log` may be null.  The engine, settings and log must outlive the session.
    Session(Engine& engine, const SessionSettings& settings, StatementLog* log,
            int connection_number);

    enum class Outcome {
        kContinue,  // send the answer, wait for the next message
        kClose,     // send the answer, then close the connection
        kDrop,      // close the connection at once, sending nothing
    };

    /// Handles one complete client message and appends the answer packets to `out`.  A message
    /// that is not TDS as a client sends it (unknown type, malformed content, a request before
    /// login) ends the connection: kClose with nothing to send.
    Outcome Handle(const protocol::ClientMessage& message, protocol::Bytes& out);

    bool logged_in() const { return state_ == State::kLoggedIn; }
    /// Why the last kClose happened, for the server's diagnostics ("" after a refused login).
    const std::string& close_reason() const { return close_reason_; }

  private:
    enum class State { kNew, kLoggedIn };

    struct Cursor {
        std::vector<protocol::WireColumn> columns;
        std::vector<std::vector<Value>> rows;
        std::size_t next = 0;  // index of the row the next FETCH NEXT starts at
    };

    Outcome Prelogin(const protocol::ClientMessage& message, protocol::Bytes& tokens);
    Outcome Login(const protocol::ClientMessage& message, protocol::Bytes& tokens);
    Outcome Batch(const protocol::ClientMessage& message, protocol::Bytes& tokens);
    Outcome Rpc(const protocol::ClientMessage& message, protocol::Bytes& tokens);
    Outcome ProtocolError(std::string reason);

    void CursorOpen(const protocol::RpcRequest& rpc, protocol::Bytes& tokens);
    void CursorFetch(const protocol::RpcRequest& rpc, protocol::Bytes& tokens);
    void CursorClose(const protocol::RpcRequest& rpc, protocol::Bytes& tokens);
    void PrepExec(const protocol::RpcRequest& rpc, protocol::Bytes& tokens);
    void Execute(const protocol::RpcRequest& rpc, protocol::Bytes& tokens);
    void ExecuteSql(const protocol::RpcRequest& rpc, protocol::Bytes& tokens);
    void Unprepare(const protocol::RpcRequest& rpc, protocol::Bytes& tokens);

    /// Logs a statement text received and counts it; true when the connection is to be dropped
    /// instead of answering it.
    bool Receive(std::string_view text);
    /// Writes the tokens of a batch's results.  `done` is DONE for a batch, DONEINPROC inside an
    /// RPC answer; `final` clears MORE on the last DONE.  Returns whether any statement failed.
    bool WriteResults(const std::vector<StatementResult>& results, std::uint8_t done, bool final,
                      protocol::Bytes& tokens);
    /// An error message, then DONEPROC with the error bit: the answer of an RPC that cannot run.
    void RpcError(std::int32_t number, const std::string& text, protocol::Bytes& tokens);
    void WriteError(std::int32_t number, std::uint8_t severity, const std::string& text,
                    protocol::Bytes& tokens);
    std::int32_t NewHandle();

    Engine& engine_;
    const SessionSettings& settings_;
    StatementLog* log_;
    int connection_;
    std::uint16_t spid_;
    State state_ = State::kNew;
    int statements_ = 0;
    std::string database_;  // the login's database ("master" when it names none)
    std::int32_t last_handle_ = 0;
    std::map<std::int32_t, Cursor> cursors_;
    std::map<std::int32_t, std::string> prepared_;
    std::string close_reason_;
};

}  // namespace tdslite
