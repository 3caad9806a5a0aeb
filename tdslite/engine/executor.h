// Runs parsed statements: binds names (207, 208, 209), checks and computes static types, and
// evaluates over the rows of the storage layer with the server's semantics.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "engine/ast.h"
#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/storage.h"

namespace tdslite::detail {

class Executor {
  public:
    /// `database` is the session's current database, printed in messages that name a table with
    /// three parts.
    Executor(Storage& storage, std::string database, Limits limits = {})
        : storage_(storage), database_(std::move(database)), limits_(limits) {}

    /// Runs one statement.  *abort_batch is set when the error ends the whole batch (compile
    /// errors and conversion errors), so the caller runs no further statement.
    StatementResult Run(Statement& statement, bool* abort_batch);

  private:
    Storage& storage_;
    std::string database_;
    Limits limits_;
};

}  // namespace tdslite::detail
