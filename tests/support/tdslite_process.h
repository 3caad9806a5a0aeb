// Test support: a tdslite started for one test suite, with a private unixODBC configuration, and
// a way to run the real programs and capture what they print.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

/// Path of a program in the build folder (build/tdslite, build/snp72k2zeiimp, ...).
std::string BuildPath(std::string_view program);
/// Path of a file in the source tree (tests/fixtures/..., sample/...).
std::string SourcePath(std::string_view relative);

/// A fresh private folder below the system's temporary folder, removed with everything in it when
/// the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, std::string_view bytes);

struct TdsliteOptions {
    std::string init_script;   // T-SQL file run before listening ("" for none)
    std::string init_sql;      // T-SQL text written to a file and run before the script ("" none)
    std::string user = "zeit";
    std::string password = "geheim";
    int latency_ms = 0;
    int drop_after = 0;        // 0: never
};

/// A running tdslite on 127.0.0.1 with a statement log and an ODBC configuration (DSN "TDSLITE")
/// in its own folder.  Stopped with SIGTERM when the object goes.
class TdsliteServer {
public:
    /// Starts build/tdslite --port 0 and waits for its listening line; aborts the test on failure.
    static std::unique_ptr<TdsliteServer> Start(const TdsliteOptions& options = {});
    ~TdsliteServer();

    int port() const { return port_; }
    const std::string& dir() const { return dir_.path(); }
    std::string dsn() const { return "TDSLITE"; }
    const TdsliteOptions& options() const { return options_; }

    /// ODBCSYSINI, ODBCINI and FREETDSCONF for programs that should reach this server.
    std::map<std::string, std::string> OdbcEnvironment() const;
    /// Sets those variables in this process, for in-process ODBC clients.
    void ApplyOdbcEnvironment() const;

    /// The statement log: every statement text received, in order, without the connection prefix.
    std::vector<std::string> StatementLog() const;
    /// Forgets what the statement log holds so far (a test's own statements start afresh).
    void ClearStatementLog() const;
    /// Runs T-SQL through a fresh ODBC connection of its own (fixture data, reading back tables).
    /// Returns the rows of the last result set, columns joined by '|', NULL as "NULL"; aborts the
    /// test on an error.
    std::vector<std::string> Query(const std::string& sql) const;

private:
    TdsliteServer() = default;
    TempDir dir_;
    TdsliteOptions options_;
    int pid_ = -1;
    int port_ = 0;
};

struct ProcessResult {
    int exit_status = -1;      // 0..255, or -1 when killed by a signal
    std::string out;           // standard output, bytes as written
    std::string err;           // standard error
};

/// Runs argv[0] (a path) with the given arguments and extra environment variables, feeding
/// `input` to its standard input, and waits for it (at most 120 seconds).
ProcessResult RunProgram(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& extra_env = {},
                         std::string_view input = {});

}  // namespace testsupport
