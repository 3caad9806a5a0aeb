#include "server/session.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>

#include "protocol/login.h"

namespace tdslite {

using protocol::Bytes;
using protocol::ClientMessage;
using protocol::RpcParam;
using protocol::RpcRequest;

namespace {

constexpr const char* kServerName = "TDSLITE";
constexpr const char* kProgramName = "tdslite";
constexpr std::uint16_t kCurCmdSelect = 0xC1;
constexpr std::int64_t kDefaultFetchRows = 20;  // what a fetch without a row count returns
constexpr std::int64_t kFetchFirst = 0x01;
constexpr std::int64_t kFetchNext = 0x02;

bool SameLogin(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

const RpcParam* ParamAt(const RpcRequest& rpc, std::size_t i) {
    return i < rpc.params.size() ? &rpc.params[i] : nullptr;
}

std::optional<std::int64_t> IntParam(const RpcRequest& rpc, std::size_t i) {
    const RpcParam* p = ParamAt(rpc, i);
    return p && !p->is_null ? p->integer : std::nullopt;
}

std::optional<std::string> TextParam(const RpcRequest& rpc, std::size_t i) {
    const RpcParam* p = ParamAt(rpc, i);
    return p && !p->is_null ? p->text : std::nullopt;
}

std::int32_t ToInt32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

Session::Session(Engine& engine, const SessionSettings& settings, StatementLog* log,
                 int connection_number)
    : engine_(engine),
      settings_(settings),
      log_(log),
      connection_(connection_number),
      spid_(static_cast<std::uint16_t>(50 + connection_number % 30000)) {}

Session::Outcome Session::Handle(const ClientMessage& message, Bytes& out) {
    Bytes tokens;
    Outcome outcome = Outcome::kContinue;
    switch (message.type) {
        case protocol::kPrelogin:
            outcome = state_ == State::kNew ? Prelogin(message, tokens)
                                            : ProtocolError("PRELOGIN after login");
            break;
        case protocol::kLogin7:
            outcome = state_ == State::kNew ? Login(message, tokens)
                                            : ProtocolError("LOGIN7 after login");
            break;
        case protocol::kSqlBatch:
            outcome =
                logged_in() ? Batch(message, tokens) : ProtocolError("SQL batch before login");
            break;
        case protocol::kRpc:
            outcome = logged_in() ? Rpc(message, tokens) : ProtocolError("RPC before login");
            break;
        case protocol::kAttention:
            // The whole answer to the request was sent already; acknowledging is all that is left.
            if (!logged_in()) return ProtocolError("attention before login");
            protocol::WriteDone(tokens, protocol::kTokenDone, protocol::kDoneAttention, 0, 0);
            break;
        case protocol::kTransactionManager:
            // Every statement commits on its own; transaction requests are acknowledged only.
            if (!logged_in()) return ProtocolError("transaction request before login");
            protocol::WriteDone(tokens, protocol::kTokenDone, protocol::kDoneFinal, 0, 0);
            break;
        default:
            return ProtocolError("unknown packet type " + std::to_string(message.type));
    }
    if (outcome != Outcome::kDrop && !tokens.empty())
        protocol::AppendPackets(out, protocol::kTabularResult, tokens, spid_);
    return outcome;
}

Session::Outcome Session::ProtocolError(std::string reason) {
    close_reason_ = std::move(reason);
    return Outcome::kClose;
}

Session::Outcome Session::Prelogin(const ClientMessage& message, Bytes& tokens) {
    protocol::PreloginRequest request;
    std::string error;
    if (!protocol::ParsePrelogin(message.payload, request, &error)) return ProtocolError(error);
    tokens = protocol::PreloginAnswer();
    return Outcome::kContinue;
}

Session::Outcome Session::Login(const ClientMessage& message, Bytes& tokens) {
    protocol::LoginRequest login;
    std::string error;
    if (!protocol::ParseLogin7(message.payload, login, &error)) return ProtocolError(error);

    if (!SameLogin(login.user, settings_.user) || login.password != settings_.password) {
        WriteError(18456, 14, "Login failed for user '" + login.user + "'.", tokens);
        protocol::WriteDone(tokens, protocol::kTokenDone, protocol::kDoneError, 0, 0);
        close_reason_.clear();
        return Outcome::kClose;
    }

    state_ = State::kLoggedIn;
    database_ = login.database.empty() ? "master" : login.database;
    const std::string& database = database_;
    protocol::WriteEnvChange(tokens, 1, database, "master");
    protocol::WriteMessage(
        tokens, {5701, 2, 0, "Changed database context to '" + database + "'.", 1}, kServerName);
    protocol::WriteCollationChange(tokens);
    protocol::WriteEnvChange(tokens, 2, "us_english", "");
    protocol::WriteMessage(tokens, {5703, 1, 0, "Changed language setting to us_english.", 1},
                           kServerName);
    protocol::WriteLoginAck(tokens, kProgramName);
    const std::string packet_size = std::to_string(protocol::kPacketSize);
    protocol::WriteEnvChange(tokens, 4, packet_size, packet_size);
    protocol::WriteDone(tokens, protocol::kTokenDone, protocol::kDoneFinal, 0, 0);
    return Outcome::kContinue;
}

bool Session::Receive(std::string_view text) {
    if (log_) log_->Write(connection_, text);
    ++statements_;
    return settings_.drop_after > 0 && statements_ == settings_.drop_after;
}

Session::Outcome Session::Batch(const ClientMessage& message, Bytes& tokens) {
    std::string text;
    std::string error;
    if (!protocol::ParseSqlBatch(message.payload, text, &error)) return ProtocolError(error);
    if (Receive(text)) return Outcome::kDrop;
    WriteResults(engine_.ExecuteBatch(text, database_), protocol::kTokenDone, true, tokens);
    return Outcome::kContinue;
}

void Session::WriteError(std::int32_t number, std::uint8_t severity, const std::string& text,
                         Bytes& tokens) {
    protocol::WriteMessage(tokens, {number, 1, severity, text, 1}, kServerName);
}

bool Session::WriteResults(const std::vector<StatementResult>& results, std::uint8_t done,
                           bool final, Bytes& tokens) {
    if (results.empty()) {
        protocol::WriteDone(tokens, done, final ? protocol::kDoneFinal : protocol::kDoneMore, 0, 0);
        return false;
    }
    bool any_failed = false;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const StatementResult& r = results[i];
        bool error_sent = false;
        for (const Message& m : r.messages) {
            protocol::WriteMessage(tokens, m, kServerName);
            error_sent = error_sent || m.severity >= 11;
        }
        // A failure always travels with an error: without one the client reports native 0.
        if (r.failed && !error_sent) WriteError(50000, 16, "The statement failed.", tokens);

        std::uint16_t status = 0;
        if (!final || i + 1 < results.size()) status |= protocol::kDoneMore;
        if (r.failed) {
            status |= protocol::kDoneError;
            any_failed = true;
        } else {
            if (r.has_result_set) {
                const auto columns = protocol::DescribeColumns(r.columns, r.rows);
                protocol::WriteColMetadata(tokens, columns);
                for (const auto& row : r.rows) protocol::WriteRow(tokens, columns, row);
            }
            if (r.count_valid) status |= protocol::kDoneCount;
        }
        const std::uint64_t count =
            r.count_valid && !r.failed
                ? static_cast<std::uint64_t>(std::max<std::int64_t>(r.row_count, 0))
                : 0;
        protocol::WriteDone(tokens, done, status, r.has_result_set ? kCurCmdSelect : 0, count);
    }
    return any_failed;
}

void Session::RpcError(std::int32_t number, const std::string& text, Bytes& tokens) {
    WriteError(number, 16, text, tokens);
    protocol::WriteDone(tokens, protocol::kTokenDoneProc, protocol::kDoneError, 0, 0);
}

std::int32_t Session::NewHandle() {
    // Handles are never 0: the client reads a zero handle as "no cursor".
    if (last_handle_ == std::numeric_limits<std::int32_t>::max()) last_handle_ = 0;
    return ++last_handle_;
}

Session::Outcome Session::Rpc(const ClientMessage& message, Bytes& tokens) {
    RpcRequest rpc;
    std::string error;
    if (!protocol::ParseRpc(message.payload, rpc, &error)) return ProtocolError(error);

    // The statement-carrying calls are logged and counted like batches.
    std::optional<std::string> statement;
    switch (rpc.proc_id) {
        case protocol::kSpCursorOpen:
            statement = TextParam(rpc, 1);
            break;
        case protocol::kSpPrepExec:
            statement = TextParam(rpc, 2);
            break;
        case protocol::kSpExecuteSql:
            statement = TextParam(rpc, 0);
            break;
        default:
            break;
    }
    if (statement && Receive(*statement)) return Outcome::kDrop;

    switch (rpc.proc_id) {
        case protocol::kSpCursorOpen:
            CursorOpen(rpc, tokens);
            break;
        case protocol::kSpCursorFetch:
            CursorFetch(rpc, tokens);
            break;
        case protocol::kSpCursorOption:
        case protocol::kSpCursorClose:
            CursorClose(rpc, tokens);
            break;
        case protocol::kSpPrepExec:
            PrepExec(rpc, tokens);
            break;
        case protocol::kSpExecute:
            Execute(rpc, tokens);
            break;
        case protocol::kSpExecuteSql:
            ExecuteSql(rpc, tokens);
            break;
        case protocol::kSpUnprepare:
            Unprepare(rpc, tokens);
            break;
        default:
            RpcError(2812, "Could not find stored procedure '" + rpc.proc_name + "'.", tokens);
            break;
    }
    return Outcome::kContinue;
}

void Session::CursorOpen(const RpcRequest& rpc, Bytes& tokens) {
    const std::optional<std::string> text = TextParam(rpc, 1);
    if (!text) {
        RpcError(201,
                 "Procedure or function 'sp_cursoropen' expects parameter '@stmt', which was not "
                 "supplied.",
                 tokens);
        return;
    }
    std::vector<StatementResult> results = engine_.ExecuteBatch(*text, database_);

    // Errors and messages come first, before any metadata.
    bool failed = false;
    for (const StatementResult& r : results) {
        bool error_sent = false;
        for (const Message& m : r.messages) {
            protocol::WriteMessage(tokens, m, kServerName);
            error_sent = error_sent || m.severity >= 11;
        }
        if (r.failed && !error_sent) WriteError(50000, 16, "The statement failed.", tokens);
        failed = failed || r.failed;
    }
    if (failed) {
        protocol::WriteDone(tokens, protocol::kTokenDoneProc, protocol::kDoneError, 0, 0);
        return;
    }

    const std::int32_t scrollopt = ToInt32(IntParam(rpc, 2).value_or(4));
    const std::int32_t ccopt = ToInt32(IntParam(rpc, 3).value_or(0x2002));
    auto last_set = std::find_if(results.rbegin(), results.rend(),
                                 [](const StatementResult& r) { return r.has_result_set; });
    std::int32_t handle = 0;
    std::int64_t count = 0;
    if (last_set != results.rend()) {
        Cursor cursor;
        cursor.columns = protocol::DescribeColumns(last_set->columns, last_set->rows);
        cursor.rows = std::move(last_set->rows);
        protocol::WriteColMetadata(tokens, cursor.columns);
        handle = NewHandle();
        cursors_[handle] = std::move(cursor);
    } else {
        // Not a query: it ran, and there is no cursor (handle 0).
        for (const StatementResult& r : results) count += r.count_valid ? r.row_count : 0;
    }
    protocol::WriteDone(tokens, protocol::kTokenDoneInProc,
                        protocol::kDoneMore | protocol::kDoneCount, 0,
                        static_cast<std::uint64_t>(std::max<std::int64_t>(count, 0)));
    protocol::WriteReturnStatus(tokens, 0);
    protocol::WriteReturnValueInt(tokens, 1, "", handle);
    protocol::WriteReturnValueInt(tokens, 2, "", scrollopt);
    protocol::WriteReturnValueInt(tokens, 3, "", ccopt);
    protocol::WriteReturnValueInt(tokens, 4, "", handle != 0 ? -1 : ToInt32(count));
    protocol::WriteDone(tokens, protocol::kTokenDoneProc, protocol::kDoneFinal, 0, 0);
}

void Session::CursorFetch(const RpcRequest& rpc, Bytes& tokens) {
    const std::optional<std::int64_t> handle = IntParam(rpc, 0);
    auto it = handle ? cursors_.find(ToInt32(*handle)) : cursors_.end();
    auto fail = [&](std::int32_t number, const std::string& text) {
        WriteError(number, 16, text, tokens);
        protocol::WriteDone(tokens, protocol::kTokenDoneInProc,
                            protocol::kDoneMore | protocol::kDoneError, 0, 0);
        protocol::WriteReturnStatus(tokens, 1);
        protocol::WriteDone(tokens, protocol::kTokenDoneProc, protocol::kDoneError, 0, 0);
    };
    if (it == cursors_.end()) {
        fail(16916, "A cursor with the name '" + (handle ? std::to_string(*handle) : "NULL") +
                        "' does not exist.");
        return;
    }
    Cursor& cursor = it->second;
    const std::int64_t fetch_type = IntParam(rpc, 1).value_or(kFetchNext);
    if (fetch_type != kFetchNext && fetch_type != kFetchFirst) {
        fail(16911, "fetch: The fetch type " + std::to_string(fetch_type) +
                        " cannot be used with forward only cursors.");
        return;
    }
    const std::int64_t nrows = IntParam(rpc, 3).value_or(kDefaultFetchRows);
    const std::size_t start = fetch_type == kFetchFirst ? 0 : cursor.next;
    const std::size_t available = cursor.rows.size() - std::min(start, cursor.rows.size());
    const std::size_t take =
        nrows <= 0 ? 0 : std::min<std::size_t>(available, static_cast<std::size_t>(nrows));
    for (std::size_t i = 0; i < take; ++i)
        protocol::WriteRow(tokens, cursor.columns, cursor.rows[start + i]);
    cursor.next = start + take;
    protocol::WriteDone(tokens, protocol::kTokenDoneInProc,
                        protocol::kDoneMore | protocol::kDoneCount, 0, take);
    protocol::WriteReturnStatus(tokens, 0);
    protocol::WriteDone(tokens, protocol::kTokenDoneProc, protocol::kDoneFinal, 0, 0);
}

void Session::CursorClose(const RpcRequest& rpc, Bytes& tokens) {
    const std::optional<std::int64_t> handle = IntParam(rpc, 0);
    auto it = handle ? cursors_.find(ToInt32(*handle)) : cursors_.end();
    if (it == cursors_.end()) {
        RpcError(16916,
                 "A cursor with the name '" + (handle ? std::to_string(*handle) : "NULL") +
                     "' does not exist.",
                 tokens);
        return;
    }
    if (rpc.proc_id == protocol::kSpCursorClose) cursors_.erase(it);
    protocol::WriteReturnStatus(tokens, 0);
    protocol::WriteDone(tokens, protocol::kTokenDoneProc, protocol::kDoneFinal, 0, 0);
}

namespace {

// Whether an RPC passes statement parameters: parameter definitions that are not blank, or
// more parameters than the procedure's own `fixed` ones.
bool HasStatementParameters(const RpcRequest& rpc, std::size_t definitions_at, std::size_t fixed) {
    const std::optional<std::string> definitions = TextParam(rpc, definitions_at);
    return (definitions && definitions->find_first_not_of(" \t\r\n") != std::string::npos) ||
           rpc.params.size() > fixed;
}

}  // namespace

void Session::PrepExec(const RpcRequest& rpc, Bytes& tokens) {
    const std::optional<std::string> text = TextParam(rpc, 2);
    if (!text) {
        RpcError(201,
                 "Procedure or function 'sp_prepexec' expects parameter '@stmt', which was not "
                 "supplied.",
                 tokens);
        return;
    }
    if (HasStatementParameters(rpc, 1, 3)) {
        RpcError(50000, "tdslite does not support statement parameters.", tokens);
        return;
    }
    const bool failed = WriteResults(engine_.ExecuteBatch(*text, database_),
                                     protocol::kTokenDoneInProc, false, tokens);
    const std::int32_t handle = NewHandle();
    prepared_[handle] = *text;
    protocol::WriteReturnStatus(tokens, 0);
    protocol::WriteReturnValueInt(tokens, 1, "", handle);
    protocol::WriteDone(tokens, protocol::kTokenDoneProc,
                        failed ? protocol::kDoneError : protocol::kDoneFinal, 0, 0);
}

void Session::Execute(const RpcRequest& rpc, Bytes& tokens) {
    const std::optional<std::int64_t> handle = IntParam(rpc, 0);
    auto it = handle ? prepared_.find(ToInt32(*handle)) : prepared_.end();
    if (it == prepared_.end()) {
        RpcError(8179,
                 "Could not find prepared statement with handle " +
                     (handle ? std::to_string(*handle) : "NULL") + ".",
                 tokens);
        return;
    }
    if (rpc.params.size() > 1) {
        RpcError(50000, "tdslite does not support statement parameters.", tokens);
        return;
    }
    const bool failed = WriteResults(engine_.ExecuteBatch(it->second, database_),
                                     protocol::kTokenDoneInProc, false, tokens);
    protocol::WriteReturnStatus(tokens, 0);
    protocol::WriteDone(tokens, protocol::kTokenDoneProc,
                        failed ? protocol::kDoneError : protocol::kDoneFinal, 0, 0);
}

void Session::ExecuteSql(const RpcRequest& rpc, Bytes& tokens) {
    const std::optional<std::string> text = TextParam(rpc, 0);
    if (!text) {
        RpcError(201,
                 "Procedure or function 'sp_executesql' expects parameter '@statement', which was "
                 "not supplied.",
                 tokens);
        return;
    }
    if (HasStatementParameters(rpc, 1, 2)) {
        RpcError(50000, "tdslite does not support statement parameters.", tokens);
        return;
    }
    const bool failed = WriteResults(engine_.ExecuteBatch(*text, database_),
                                     protocol::kTokenDoneInProc, false, tokens);
    protocol::WriteReturnStatus(tokens, 0);
    protocol::WriteDone(tokens, protocol::kTokenDoneProc,
                        failed ? protocol::kDoneError : protocol::kDoneFinal, 0, 0);
}

void Session::Unprepare(const RpcRequest& rpc, Bytes& tokens) {
    const std::optional<std::int64_t> handle = IntParam(rpc, 0);
    if (handle) prepared_.erase(ToInt32(*handle));
    protocol::WriteReturnStatus(tokens, 0);
    protocol::WriteDone(tokens, protocol::kTokenDoneProc, protocol::kDoneFinal, 0, 0);
}

}  // namespace tdslite
