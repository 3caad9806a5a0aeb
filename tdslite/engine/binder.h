// Name resolution and static typing of statements: tables (208), columns (207, 209, 4104),
// correlation of subqueries, aggregates, and the result type of every expression.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/ast.h"
#include "engine/evaluator.h"
#include "engine/storage.h"

namespace tdslite::detail {

/// Names visible to the expressions of one query level.
struct Scope {
    std::vector<const TableDef*> tables;
    std::vector<std::string> exposed_keys;   // alias or table name, identifier key
    std::vector<std::string> exposed_names;  // as written
    std::vector<std::string> schema_keys;
    std::vector<bool> aliased;
    Scope* outer = nullptr;
    bool correlated = false;   // some expression below reads an enclosing level
    bool values_only = false;  // INSERT ... VALUES: column names are not allowed
};

enum class AggMode : std::uint8_t { Forbidden, Allowed, Inside };

/// Binds the expressions of one statement; the errors it finds are compile errors.  The
/// evaluator serves to fold constant arguments that decide result lengths.
class Binder {
  public:
    Binder(Storage& storage, Evaluator& ev) : storage_(storage), ev_(ev) {}

    std::vector<Message> errors;
    bool Failed() const { return !errors.empty(); }

    /// Finds a table; on failure records 208 with the name as written and stops binding.
    const TableDef* ResolveTable(const ObjectName& name);
    /// Makes a table of FROM visible in a scope under its alias or name.
    void AddTable(Scope& scope, const TableDef* t, const TableRef& ref);
    /// Resolves FROM, expands '*', binds the select list, WHERE and ORDER BY.  False with
    /// errors recorded.
    bool BindSelect(Select& s, Scope& scope);
    /// Resolves the names of an expression and computes its static type.  COUNT nodes go to
    /// `aggregates` where the mode allows them.
    void BindExpr(Expr& e, Scope& scope, AggMode mode, std::vector<Expr*>* aggregates);

    static StaticType ColumnType(const ColumnDef& c);

  private:
    void Error(Message m) { errors.push_back(std::move(m)); }
    bool AggregateAllowed(AggMode mode);
    void ResolveColumn(Expr& e, Scope& scope);
    void NotPermitted(const Expr& e);
    static void Bind(Expr& e, Scope& from, Scope& owner, int level, int table, int column);
    /// 8120 for columns of an aggregate query outside COUNT.
    void CheckAggregateQuery(const Expr& e, const Scope& scope);
    /// Constant integer value of an argument for result lengths; nullopt when not constant.
    std::optional<std::int64_t> ConstantInt(Expr& e);
    void TypeOf(Expr& e);
    void ArithmeticType(Expr& e);
    void FunctionType(Expr& e);

    Storage& storage_;
    Evaluator& ev_;
    bool stop_ = false;
};

}  // namespace tdslite::detail
