// tdslite's command line.
#pragma once

#include <string>
#include <vector>

namespace tdslite {

struct ServerOptions {
    int port = 0;                           // 0: the system picks a free port
    std::string database;                   // SQLite file; "" keeps the tables in memory
    std::vector<std::string> init_scripts;  // run in order before listening
    std::string user;
    std::string password;
    std::string statement_log;    // "" for none
    int latency_ms = 0;           // delay before every answer
    int drop_after = 0;           // close a connection on its n-th statement; 0 never
    std::string odbc_config_dir;  // "" for none
};

/// The usage text printed for --help and after a bad option.
const char* UsageText();

/// Parses argv[1..argc-1].  Returns 0 on success, 1 for --help (the caller prints the usage and
/// exits successfully), and -1, with *error set, for an unknown option, a missing or malformed
/// value, or a missing --user or --password.
int ParseOptions(int argc, const char* const* argv, ServerOptions& out, std::string* error);

}  // namespace tdslite
