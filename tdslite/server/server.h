// tdslite's program: opens the engine, runs the init scripts, listens on 127.0.0.1 and serves
// each connection in a thread of its own until SIGTERM or SIGINT.
#pragma once

#include <cstdio>

#include "server/options.h"

namespace tdslite {

/// Runs the server.  Prints "tdslite listening on 127.0.0.1:PORT" to `out` once it accepts
/// connections (after the ODBC configuration is written), and errors to `err`.  Returns the exit
/// status: 0 after a stop by SIGTERM or SIGINT, 1 when the database, an init script, the
/// statement log, the socket or the ODBC configuration fails.
int RunServer(const ServerOptions& options, std::FILE* out, std::FILE* err);

}  // namespace tdslite
