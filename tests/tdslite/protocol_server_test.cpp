// The tdslite program: its options, init scripts, ODBC configuration, robustness against bytes
// that are not TDS, signals, and a smoke test with unixODBC's isql.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "server/init_script.h"
#include "server/odbc_config.h"
#include "server/options.h"
#include "support/process_internal.h"
#include "support/tdslite_process.h"

namespace {

using testsupport::BuildPath;
using testsupport::ReadFileBytes;
using testsupport::RunProgram;
using testsupport::TdsliteOptions;
using testsupport::TdsliteServer;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The test support's process runner, which every end-to-end test relies on.
TEST(RunProgram, CapturesBothStreamsAndSurvivesProgramsThatIgnoreInput) {
    const auto small =
        RunProgram({"/bin/sh", "-c", "read line; echo \"got $line\"; echo err >&2; exit 3"},
                   {{"SNP_PROBE", "x"}}, "hello\n");
    EXPECT_EQ(small.exit_status, 3);
    EXPECT_EQ(small.out, "got hello\n");
    EXPECT_EQ(small.err, "err\n");
    // Both pipes filled beyond their buffers at once: read together, nothing blocks.
    const auto big =
        RunProgram({"/bin/sh", "-c", "head -c 300000 /dev/zero; head -c 300000 /dev/zero >&2"});
    EXPECT_EQ(big.out.size(), 300000u);
    EXPECT_EQ(big.err.size(), 300000u);
    // A program that exits without reading a large input: this process must not die of SIGPIPE.
    const auto ignoring = RunProgram({"/bin/sh", "-c", "exit 0"}, {}, std::string(1 << 20, 'x'));
    EXPECT_EQ(ignoring.exit_status, 0);
    const auto env =
        RunProgram({"/bin/sh", "-c", "printf %s \"$SNP_PROBE\""}, {{"SNP_PROBE", "v\xFC"}});
    EXPECT_EQ(env.out, "v\xFC");
}

TEST(SplitScript, BatchesEndAtLinesHoldingOnlyGo) {
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::pair<std::string, int>> batches;  // text, first line
    } cases[] = {
        {"no_go", "SELECT 1\nSELECT 2", {{"SELECT 1\nSELECT 2\n", 1}}},
        {"go_variants", "A\nGO\nB\n  go \t\r\nC\nGo\n", {{"A\n", 1}, {"B\n", 3}, {"C\n", 5}}},
        {"go_inside_text_is_text",
         "SELECT 'GO'\nGOTO x\nGO;\n",
         {{"SELECT 'GO'\nGOTO x\nGO;\n", 1}}},
        {"blank_batches_left_out", "GO\n\n  \nGO\nX\n", {{"X\n", 5}}},
        {"crlf_lines", "A\r\nGO\r\nB\r\n", {{"A\r\n", 1}, {"B\r\n", 3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<std::string, int>> got;
        for (const auto& b : tdslite::SplitScript(c.script)) got.emplace_back(b.text, b.first_line);
        EXPECT_EQ(got, c.batches);
    }
}

TEST(ServerOptions, ParsesTheCommandLine) {
    tdslite::ServerOptions o;
    std::string error;
    const char* good[] = {
        "tdslite", "--port",        "1433",  "--user",     "u",     "--password",
        "",        "--init",        "a.sql", "--init",     "b.sql", "--latency-ms",
        "5",       "--drop-after",  "3",     "--database", "x.db",  "--statement-log",
        "s.log",   "--odbc-config", "d"};
    ASSERT_EQ(tdslite::ParseOptions(std::size(good), good, o, &error), 0) << error;
    EXPECT_EQ(o.port, 1433);
    EXPECT_EQ(o.init_scripts, (std::vector<std::string>{"a.sql", "b.sql"}));
    EXPECT_EQ(o.password, "");
    EXPECT_EQ(o.latency_ms, 5);
    EXPECT_EQ(o.drop_after, 3);

    struct Bad {
        const char* name;
        std::vector<const char*> argv;
    } bad[] = {
        {"no_user", {"tdslite", "--password", "p"}},
        {"no_password", {"tdslite", "--user", "u"}},
        {"missing_value", {"tdslite", "--user", "u", "--password", "p", "--port"}},
        {"port_too_big", {"tdslite", "--user", "u", "--password", "p", "--port", "65536"}},
        {"port_not_a_number", {"tdslite", "--user", "u", "--password", "p", "--port", "12x"}},
        {"negative_latency", {"tdslite", "--user", "u", "--password", "p", "--latency-ms", "-1"}},
        {"unknown_option", {"tdslite", "--user", "u", "--password", "p", "--verbose", "1"}},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.name);
        EXPECT_EQ(tdslite::ParseOptions(static_cast<int>(b.argv.size()), b.argv.data(), o, &error),
                  -1);
        EXPECT_FALSE(error.empty());
    }
    const char* help[] = {"tdslite", "--help"};
    EXPECT_EQ(tdslite::ParseOptions(2, help, o, &error), 1);
}

TEST(OdbcConfig, WritesDriverDsnAndFreeTdsFiles) {
    TempDir dir;
    std::string error;
    tdslite::OdbcConfig config;
    config.port = 14333;
    ASSERT_TRUE(tdslite::WriteOdbcConfig(dir.path(), config, &error)) << error;
    const std::string odbcinst = ReadFileBytes(dir.File("odbcinst.ini"));
    const std::string odbc = ReadFileBytes(dir.File("odbc.ini"));
    const std::string freetds = ReadFileBytes(dir.File("freetds.conf"));
    EXPECT_TRUE(Contains(odbcinst, "[FreeTDS]\n"));
    const std::string driver = tdslite::FindFreeTdsDriver();
    ASSERT_FALSE(driver.empty());
    EXPECT_TRUE(std::filesystem::exists(driver));
    EXPECT_TRUE(Contains(odbcinst, "Driver = " + driver + "\n"));
    for (const char* line : {"[TDSLITE]\n", "Driver = FreeTDS\n", "Server = 127.0.0.1\n",
                             "Port = 14333\n", "TDS_Version = 7.4\n", "ClientCharset = CP1252\n"})
        EXPECT_TRUE(Contains(odbc, line)) << line;
    EXPECT_TRUE(Contains(freetds, "[global]\n\ttds version = 7.4\n"));

    config.dsn = std::string(24, 'D');  // unixODBC's limit is 23 characters
    EXPECT_FALSE(tdslite::WriteOdbcConfig(dir.path(), config, &error));
    config.dsn = "TDSLITE";
    // A missing folder is created; one that cannot be (its parent is a file) is an error.
    EXPECT_TRUE(tdslite::WriteOdbcConfig(dir.File("new/odbc"), config, &error)) << error;
    EXPECT_TRUE(std::filesystem::exists(dir.File("new/odbc/odbc.ini")));
    EXPECT_FALSE(tdslite::WriteOdbcConfig(dir.File("odbc.ini/sub"), config, &error));
}

TEST(InitScript, AnErrorStopsTheProgramWithMessageAndScriptLine) {
    TempDir dir;
    const std::string script = dir.File("init.sql");
    WriteFileBytes(script,
                   "CREATE TABLE person (id int NOT NULL PRIMARY KEY, name varchar(10) NULL)\n"
                   "GO\n"
                   "INSERT INTO person VALUES (1, 'Anna')\n"
                   "GO\n"
                   "\n"
                   "SELECT id\n"
                   "  FROM nope\n"
                   "GO\n"
                   "INSERT INTO person VALUES (2, 'Never')\n");
    const auto r = RunProgram(
        {BuildPath("tdslite"), "--port", "0", "--user", "u", "--password", "p", "--init", script});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "");  // never listened
    EXPECT_TRUE(Contains(r.err, "Msg 208, Level 16, State 1")) << r.err;
    EXPECT_TRUE(Contains(r.err, "Invalid object name 'nope'.")) << r.err;
    EXPECT_TRUE(Contains(r.err, script + ", line 6:")) << r.err;

    const auto missing = RunProgram({BuildPath("tdslite"), "--port", "0", "--user", "u",
                                     "--password", "p", "--init", dir.File("absent.sql")});
    EXPECT_EQ(missing.exit_status, 1);
    EXPECT_TRUE(Contains(missing.err, "absent.sql")) << missing.err;
}

TEST(InitScript, BatchesRunInOrderBeforeListening) {
    TdsliteOptions options;
    options.init_sql =
        "CREATE TABLE person (id int NOT NULL PRIMARY KEY, name varchar(10) NULL);\n"
        "go\n"
        "INSERT INTO person VALUES (1, 'Anna');\n"
        "INSERT INTO person VALUES (2, 'Otto');\n"
        "  GO  \n";
    auto server = TdsliteServer::Start(options);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->Query("SELECT name FROM person WHERE id = 2"),
              std::vector<std::string>{"Otto"});
    // Init statements are not client statements: the log holds only the query.
    EXPECT_EQ(server->StatementLog(),
              std::vector<std::string>{"SELECT name FROM person WHERE id = 2"});
}

// A raw TCP client for feeding the server bytes that are not TDS.
class RawClient {
  public:
    explicit RawClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    void Send(const std::string& bytes) {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return;  // the server may close before everything is sent
            at += static_cast<std::size_t>(n);
        }
    }
    /// Reads until the server closes; false when it is still open after timeout_ms.
    bool ClosedByServer(int timeout_ms) {
        char buffer[4096];
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) return true;
        }
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};

std::string Header(std::uint8_t type, std::uint8_t status, std::size_t length) {
    return {static_cast<char>(type),
            static_cast<char>(status),
            static_cast<char>(length >> 8),
            static_cast<char>(length & 0xFF),
            0,
            0,
            1,
            0};
}

TEST(ServerRobustness, GarbageClosesOnlyThatConnection) {
    auto server = TdsliteServer::Start();
    ASSERT_NE(server, nullptr);

    // A client that sends half a packet and waits holds only its own connection.
    RawClient idle(server->port());
    ASSERT_TRUE(idle.connected());
    idle.Send(Header(0x12, 1, 100) + "abc");

    std::string random(3000, '\0');
    unsigned seed = 12345;
    for (auto& c : random) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
    // More than the 4 MiB limit in packets that never end the message.
    std::string oversized;
    const std::string body(4000, 'x');
    for (int i = 0; i < 1100; ++i) oversized += Header(0x01, 0, 4008) + body;

    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"http_request", "GET / HTTP/1.0\r\n\r\n"},
        {"random_bytes", random},
        {"length_below_header", Header(0x12, 1, 4)},
        {"unknown_packet_type", Header(0x2A, 1, 9) + "x"},
        {"batch_before_login", Header(0x01, 1, 12) + std::string("\x04\0\0\0", 4)},
        {"truncated_login", Header(0x10, 1, 20) + std::string(12, '\x01')},
        {"prelogin_pointing_outside",
         Header(0x12, 1, 14) + std::string("\x00\x00\x40\x00\x06\xff", 6)},
        {"oversized_message", oversized},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawClient client(server->port());
        ASSERT_TRUE(client.connected());
        client.Send(c.bytes);
        EXPECT_TRUE(client.ClosedByServer(10000));
    }
    // The server still serves ODBC clients.
    EXPECT_EQ(server->Query("SELECT 42"), std::vector<std::string>{"42"});
}

TEST(ServerSignals, SigintAndSigtermStopItCleanly) {
    for (int signal_number : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal_number);
        TempDir dir;
        testsupport::internal::Pipe out;
        ASSERT_TRUE(out.Open());
        std::string error;
        const int pid =
            testsupport::internal::Spawn({BuildPath("tdslite"), "--port", "0", "--user", "u",
                                          "--password", "p", "--database", dir.File("db.sqlite")},
                                         {}, -1, out.fds[1], -1, &error);
        out.Close(1);
        ASSERT_GT(pid, 0) << error;
        // Wait for the listening line, then stop it while a client is connected.
        std::string line;
        char c = 0;
        while (::read(out.fds[0], &c, 1) == 1 && c != '\n') line.push_back(c);
        ASSERT_TRUE(line.starts_with("tdslite listening on 127.0.0.1:")) << line;
        RawClient client(std::atoi(line.c_str() + line.rfind(':') + 1));
        EXPECT_TRUE(client.connected());
        ::kill(pid, signal_number);
        EXPECT_EQ(testsupport::internal::WaitExit(pid, 10000), 0);
        EXPECT_TRUE(std::filesystem::exists(dir.File("db.sqlite")));
    }
}

TEST(ServerLatency, EveryAnswerWaits) {
    TdsliteOptions options;
    options.latency_ms = 150;
    auto server = TdsliteServer::Start(options);
    ASSERT_NE(server, nullptr);
    // Prelogin, login and the batch each wait: at least three delays.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(server->Query("SELECT 1"), std::vector<std::string>{"1"});
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
}

std::string FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t at = 0;
    while (at <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        const std::string candidate = dirs.substr(at, end - at) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        at = end + 1;
    }
    return {};
}

TEST(IsqlSmoke, RunsStatementsThroughTheDsn) {
    const std::string isql = FindOnPath("isql");
    if (isql.empty()) GTEST_SKIP() << "unixODBC's isql is not installed";
    TdsliteOptions options;
    options.init_sql =
        "CREATE TABLE person (id int NOT NULL PRIMARY KEY, name varchar(10) NULL);\n"
        "INSERT INTO person VALUES (1, 'M\xFC"
        "ller');\n";
    auto server = TdsliteServer::Start(options);
    ASSERT_NE(server, nullptr);
    const auto r = RunProgram({isql, "-b", "-v", server->dsn(), options.user, options.password},
                              server->OdbcEnvironment(),
                              "SELECT name FROM person WHERE id = 1\n"
                              "INSERT INTO person VALUES (2, 'Otto')\n"
                              "SELECT name FROM nope\n");
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out,
                         "M\xFC"
                         "ller"))
        << r.out;
    EXPECT_TRUE(Contains(r.out + r.err, "Invalid object name 'nope'.")) << r.out << r.err;
    EXPECT_EQ(server->Query("SELECT name FROM person WHERE id = 2"),
              std::vector<std::string>{"Otto"});
}

}  // namespace
