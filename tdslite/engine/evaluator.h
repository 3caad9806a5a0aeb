// Evaluation of bound expressions over the rows of the storage layer: values, three-valued
// conditions, scalar subqueries, COUNT, and the scan of a query's tables with equality
// conditions handed to SQLite.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/ast.h"
#include "engine/convert.h"
#include "engine/messages.h"
#include "engine/storage.h"

namespace tdslite::detail {

/// Work limits of one statement: rows visited and bytes of result, so that no statement can
/// run away (the server answers with an error instead).
struct Limits {
    std::int64_t row_visits = 20'000'000;
    std::int64_t result_bytes = 256LL * 1024 * 1024;
};

enum class Tri : std::uint8_t { False, True, Unknown };

/// The current row of every table of one query level while it is being scanned.
struct Frame {
    std::vector<const Row*> rows;
};

/// The operands of the top-level ANDs of a condition.
void CollectConjuncts(Expr& e, std::vector<Expr*>& out);

/// One evaluation context per statement: the frames of the query levels being scanned (the
/// innermost last) and the statement's work counters.
class Evaluator {
  public:
    Evaluator(Storage& storage, const Limits& limits) : storage_(storage), limits_(limits) {}

    std::vector<Frame*> frames;

    /// Counts rows visited and bytes of result against the limits; false (8623 / 701) beyond.
    bool Charge(std::int64_t rows, SqlError& err);
    bool ChargeBytes(std::int64_t bytes, SqlError& err);

    /// The value of a scalar expression.  Constant subexpressions and uncorrelated subqueries
    /// are computed once and remembered in the tree.
    bool Eval(Expr& e, Value& out, SqlError& err);
    /// The truth of a condition, with SQL's unknown for comparisons involving NULL.
    bool Test(Expr& e, Tri& out, SqlError& err);

    /// Evaluates the constant parts of a condition once, before any row is read, so that a bad
    /// literal conversion fails the statement also when no row qualifies.
    bool PreEvaluate(Expr& e, SqlError& err);

    /// Calls on_row(err) for every combination of rows of the query's tables that satisfies its
    /// condition; frame holds the current rows meanwhile.
    template <typename OnRow>
    bool Scan(Select& s, Frame& frame, OnRow&& on_row, SqlError& err) {
        std::vector<Expr*> conjuncts;
        if (s.where) CollectConjuncts(*s.where, conjuncts);
        return ScanTable(s, conjuncts, 0, frame, on_row, err);
    }

    /// Runs a scalar subquery: NULL for no row, error 512 for more than one.
    bool RunScalar(Select& s, Value& out, SqlError& err);

    /// Counts qualifying rows into the COUNT nodes of an aggregate query.
    bool Aggregate(Select& s, Frame& frame, SqlError& err);

  private:
    bool RunScalarIn(Select& s, Frame& frame, Value& out, SqlError& err);

    template <typename OnRow>
    bool ScanTable(Select& s, const std::vector<Expr*>& conjuncts, std::size_t ti, Frame& frame,
                   OnRow& on_row, SqlError& err) {
        if (ti == s.tables.size()) {
            if (!Charge(1, err)) return false;
            if (s.where) {
                Tri t = Tri::Unknown;
                if (!Test(*s.where, t, err)) return false;
                if (t != Tri::True) return true;
            }
            return on_row(err);
        }
        std::vector<KeyCondition> conditions;
        bool empty = false;
        if (!Pushdown(s, conjuncts, static_cast<int>(ti), conditions, empty, err)) return false;
        if (empty) return true;
        std::vector<Row> rows;
        if (!storage_.ReadRows(*s.tables[ti], conditions, rows)) {
            err = SqlError{msg::StorageFailure(storage_.LastError()), false};
            return false;
        }
        if (!Charge(static_cast<std::int64_t>(rows.size()), err)) return false;
        for (const Row& r : rows) {
            frame.rows[ti] = &r;
            if (!ScanTable(s, conjuncts, ti + 1, frame, on_row, err)) {
                frame.rows[ti] = nullptr;
                return false;
            }
        }
        frame.rows[ti] = nullptr;
        return true;
    }

    /// Equality conditions on columns of table ti whose other side is known before the scan
    /// go to SQLite, which can answer them from an index.  They only narrow the rows; the full
    /// condition is still evaluated for each.
    bool Pushdown(Select& s, const std::vector<Expr*>& conjuncts, int ti,
                  std::vector<KeyCondition>& conditions, bool& empty, SqlError& err);

    bool EvalUncached(Expr& e, Value& out, SqlError& err);
    bool EvalArithmetic(Expr& e, Value& out, SqlError& err);
    bool EvalFunction(Expr& e, Value& out, SqlError& err);

    Storage& storage_;
    const Limits& limits_;
    std::int64_t visits_ = 0;
    std::int64_t bytes_ = 0;
};

}  // namespace tdslite::detail
