// Recursive-descent parser of the dialect subset.  Depth is bounded: a tree higher than
// kMaxExpressionHeight is refused with the server's "nested too deeply" error.
#pragma once

#include <string_view>
#include <vector>

#include "engine/ast.h"

namespace tdslite::detail {

constexpr int kMaxExpressionHeight = 200;

/// Parses a whole batch.  False with the message(s) of the first error: the batch must not run.
bool ParseBatch(std::string_view batch, std::vector<Statement>& statements,
                std::vector<Message>& errors);

}  // namespace tdslite::detail
