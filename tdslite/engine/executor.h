// Runs parsed statements: binds names (207, 208, 209), checks and computes static types, and
// evaluates over the rows of the storage layer with the server's semantics.
#pragma once

#include <cstdint>
#include <string>

#include "engine/ast.h"
#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/storage.h"

namespace tdslite::detail {

/// The database name printed in messages that name a table with three parts.
constexpr const char* kDatabaseName = "tdslite";

class Executor {
  public:
    explicit Executor(Storage& storage, Limits limits = {}) : storage_(storage), limits_(limits) {}

    /// Runs one statement.  *abort_batch is set when the error ends the whole batch (compile
    /// errors and conversion errors), so the caller runs no further statement.
    StatementResult Run(Statement& statement, bool* abort_batch);

  private:
    Storage& storage_;
    Limits limits_;
};

}  // namespace tdslite::detail
