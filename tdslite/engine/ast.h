// Syntax tree of a parsed batch.  Expressions carry, besides what the parser read, the fields the
// binder fills in (static type, column position) and a memo for constant subexpressions; a tree
// is used for one execution only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "engine/engine.h"

namespace tdslite::detail {

struct TableDef;
struct Select;

/// A type as written in CONVERT, CAST or CREATE TABLE.
struct TypeSpec {
    SqlType type = SqlType::Int;
    std::uint16_t length = 0;  // char/varchar only
};

/// The static type of an expression.
struct StaticType {
    SqlType type = SqlType::Int;
    std::uint16_t length = 0;  // char/varchar: maximum length in bytes
    bool nullable = true;
    bool null_literal = false;  // the bare NULL keyword: takes the type of its partner
};

enum class ExprKind : std::uint8_t {
    Literal,  // literal (Value), NULL included
    Column,   // name parts
    Negate,
    Arithmetic,  // + - * / %
    Compare,
    And,
    Or,
    Not,
    IsNull,
    Function,   // built-in function by name
    Convert,    // CONVERT / CAST
    Subquery,   // scalar subquery
    CountStar,  // COUNT(*)
};

enum class CompareOp : std::uint8_t { Eq, Ne, Lt, Le, Gt, Ge };

enum class Builtin : std::uint8_t {
    Replicate,
    DataLength,
    Len,
    Str,
    Coalesce,
    IsNull,
    Upper,
    Lower,
    LTrim,
    RTrim,
    Count
};

struct Expr {
    ExprKind kind = ExprKind::Literal;
    bool predicate = false;  // true/false/unknown valued (comparisons, AND, OR, NOT, IS NULL)
    int height = 1;          // depth of the tree below and including this node
    std::string text;        // operator, function or name text for messages
    std::int32_t line = 1;

    Value literal;                  // Literal
    std::vector<std::string> name;  // Column: parts as written (schema, table, column ...)
    char op = '+';                  // Arithmetic
    CompareOp compare = CompareOp::Eq;
    bool is_not = false;  // IS NOT NULL
    Builtin builtin = Builtin::Replicate;
    TypeSpec target;  // Convert
    bool has_style = false;
    std::vector<std::unique_ptr<Expr>> args;
    std::unique_ptr<Select> subquery;

    // Filled in by the binder.
    StaticType type;
    int level = 0;  // Column: 0 = own query, 1 = enclosing query, ...
    int table = 0;
    int column = 0;
    bool prebound = false;    // Column made from '*', already bound
    bool constant = false;    // no column reference and no subquery below
    bool correlated = false;  // Subquery: reads columns of an enclosing query
    bool folded = false;      // memo holds the value (constant or uncorrelated subquery)
    Value memo;
};

/// A table name as written: up to four parts, empty parts allowed (".T" means dbo.T).
struct ObjectName {
    std::vector<std::string> parts;
    std::string text;  // printed in messages: parts joined by '.'
    std::int32_t line = 1;
};

struct TableRef {
    ObjectName name;
    std::string alias;
};

struct SelectItem {
    std::unique_ptr<Expr> expr;  // null for '*'
    std::string alias;
    bool has_alias = false;
};

struct OrderItem {
    std::unique_ptr<Expr> expr;
    bool descending = false;
    int select_index = -1;  // bound: sorts by this select item (alias or position)
};

struct Select {
    std::vector<SelectItem> items;
    std::vector<TableRef> from;
    std::unique_ptr<Expr> where;
    std::vector<OrderItem> order;
    std::int32_t line = 1;

    // Filled in by the binder.
    std::vector<const TableDef*> tables;
    std::vector<Expr*> aggregates;  // the COUNT nodes of the select list and ORDER BY
};

struct Insert {
    TableRef table;
    std::vector<std::string> columns;
    std::vector<std::vector<std::unique_ptr<Expr>>> rows;
};

struct Assignment {
    std::vector<std::string> column;  // name parts, last is the column
    std::unique_ptr<Expr> value;
};

struct Update {
    TableRef table;
    std::vector<Assignment> assignments;
    std::unique_ptr<Expr> where;
};

struct Delete {
    TableRef table;
    std::unique_ptr<Expr> where;
};

struct ColumnSpec {
    std::string name;
    std::string type_name;  // as written, for "Cannot find data type"
    bool type_known = false;
    TypeSpec type;
    int length_written = -1;       // the length as written (checked by the executor)
    std::optional<bool> nullable;  // NULL / NOT NULL when written
    bool primary_key = false;
    std::string constraint_name;
};

struct CreateTable {
    ObjectName name;
    std::vector<ColumnSpec> columns;
    std::vector<std::string> key_columns;  // table-level PRIMARY KEY (...)
    std::string key_name;
    int primary_key_clauses = 0;
};

struct CreateSchema {
    std::string name;
};

struct DropTable {
    std::vector<ObjectName> names;
    bool if_exists = false;
};

struct SetOption {};

struct Statement {
    std::int32_t line = 1;
    std::variant<Select, Insert, Update, Delete, CreateTable, CreateSchema, DropTable, SetOption>
        body;
};

}  // namespace tdslite::detail
