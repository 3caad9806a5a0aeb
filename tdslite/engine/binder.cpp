#include "engine/binder.h"

#include <algorithm>

#include "engine/convert.h"
#include "engine/messages.h"
#include "engine/text_rules.h"

namespace tdslite::detail {
namespace {

int Precedence(SqlType t) {
    switch (t) {
        case SqlType::DateTime:
            return 5;
        case SqlType::Int:
            return 4;
        case SqlType::SmallInt:
            return 3;
        case SqlType::VarChar:
            return 2;
        case SqlType::Char:
            return 1;
    }
    return 0;
}

StaticType TextType(SqlType t, int length, bool nullable) {
    StaticType s;
    s.type = t;
    s.length = static_cast<std::uint16_t>(std::clamp(length, 0, 8000));
    s.nullable = nullable;
    return s;
}

/// The number of characters a value of this type takes as text (for lengths of results).
int TextLengthOf(const StaticType& t) {
    switch (t.type) {
        case SqlType::Char:
        case SqlType::VarChar:
            return t.length;
        case SqlType::Int:
            return 11;
        case SqlType::SmallInt:
            return 6;
        case SqlType::DateTime:
            return 19;
    }
    return 0;
}

const char* OperatorName(char op) {
    switch (op) {
        case '+':
            return "add";
        case '-':
            return "subtract";
        case '*':
            return "multiply";
        case '/':
            return "divide";
        default:
            return "modulo";
    }
}

}  // namespace

const TableDef* Binder::ResolveTable(const ObjectName& name) {
    const std::size_t n = name.parts.size();
    const std::string& schema = n >= 2 ? name.parts[n - 2] : std::string();
    const TableDef* t = storage_.FindTable(schema.empty() ? "dbo" : schema, name.parts[n - 1]);
    if (!t) {
        Error(msg::InvalidObject(name.text));
        stop_ = true;
    }
    return t;
}

void Binder::AddTable(Scope& scope, const TableDef* t, const TableRef& ref) {
    const std::string& shown = ref.alias.empty() ? ref.name.parts.back() : ref.alias;
    const std::size_t n = ref.name.parts.size();
    const std::string schema =
        n >= 2 && !ref.name.parts[n - 2].empty() ? ref.name.parts[n - 2] : "dbo";
    scope.tables.push_back(t);
    scope.exposed_keys.push_back(IdentifierKey(shown));
    scope.exposed_names.push_back(shown);
    scope.schema_keys.push_back(IdentifierKey(schema));
    scope.aliased.push_back(!ref.alias.empty());
}

bool Binder::BindSelect(Select& s, Scope& scope) {
    for (const TableRef& ref : s.from) {
        const TableDef* t = ResolveTable(ref.name);
        if (!t) return false;
        const std::string& shown = ref.alias.empty() ? ref.name.parts.back() : ref.alias;
        for (const std::string& key : scope.exposed_keys) {
            if (key == IdentifierKey(shown)) {
                Error(msg::Make(1013, 16, 1,
                                "The objects \"" + shown + "\" and \"" + shown +
                                    "\" in the FROM clause have the same exposed names. Use "
                                    "correlation names to distinguish them."));
                return false;
            }
        }
        AddTable(scope, t, ref);
    }
    s.tables = scope.tables;

    // '*' becomes one column reference per column of every table.
    std::vector<SelectItem> items;
    for (SelectItem& item : s.items) {
        if (item.expr) {
            items.push_back(std::move(item));
            continue;
        }
        if (scope.tables.empty()) {
            Error(msg::Make(263, 16, 1, "Must specify table to select from."));
            return false;
        }
        for (std::size_t t = 0; t < scope.tables.size(); ++t) {
            const TableDef& def = *scope.tables[t];
            for (std::size_t c = 0; c < def.columns.size(); ++c) {
                SelectItem expanded;
                expanded.expr = std::make_unique<Expr>();
                Expr& e = *expanded.expr;
                e.kind = ExprKind::Column;
                e.name = {def.columns[c].name};
                e.text = def.columns[c].name;
                e.table = static_cast<int>(t);
                e.column = static_cast<int>(c);
                e.type = ColumnType(def.columns[c]);
                e.prebound = true;
                items.push_back(std::move(expanded));
            }
        }
    }
    s.items = std::move(items);

    for (SelectItem& item : s.items) {
        BindExpr(*item.expr, scope, AggMode::Allowed, &s.aggregates);
        if (stop_) return false;
    }
    if (s.where) {
        BindExpr(*s.where, scope, AggMode::Forbidden, nullptr);
        if (stop_) return false;
    }
    for (OrderItem& o : s.order) {
        Expr& e = *o.expr;
        if (e.kind == ExprKind::Column && e.name.size() == 1) {
            const std::string key = IdentifierKey(e.name[0]);
            for (std::size_t i = 0; i < s.items.size(); ++i) {
                if (s.items[i].has_alias && IdentifierKey(s.items[i].alias) == key) {
                    o.select_index = static_cast<int>(i);
                }
            }
            if (o.select_index >= 0) continue;
        }
        if (e.kind == ExprKind::Literal && e.literal.kind == Value::Kind::Int) {
            if (e.literal.integer < 1 ||
                e.literal.integer > static_cast<std::int64_t>(s.items.size())) {
                Error(msg::Make(108, 15, 1,
                                "The ORDER BY position number " +
                                    std::to_string(e.literal.integer) +
                                    " is out of range of the number of items in the select list."));
                return false;
            }
            o.select_index = static_cast<int>(e.literal.integer - 1);
            continue;
        }
        BindExpr(e, scope, AggMode::Allowed, &s.aggregates);
        if (stop_) return false;
    }
    if (!Failed() && !s.aggregates.empty()) {
        for (SelectItem& item : s.items) CheckAggregateQuery(*item.expr, scope);
        for (OrderItem& o : s.order) {
            if (o.select_index < 0) CheckAggregateQuery(*o.expr, scope);
        }
    }
    return !Failed();
}

StaticType Binder::ColumnType(const ColumnDef& c) {
    StaticType t;
    t.type = c.type;
    t.length = c.length;
    t.nullable = c.nullable;
    return t;
}

void Binder::BindExpr(Expr& e, Scope& scope, AggMode mode, std::vector<Expr*>* aggregates) {
    if (stop_) return;
    switch (e.kind) {
        case ExprKind::Literal:
            e.constant = true;
            switch (e.literal.kind) {
                case Value::Kind::Null:
                    e.type = StaticType{SqlType::Int, 0, true, true};
                    break;
                case Value::Kind::Int:
                    e.type = StaticType{SqlType::Int, 0, false, false};
                    break;
                case Value::Kind::Text:
                    e.type =
                        TextType(SqlType::VarChar, static_cast<int>(e.literal.text.size()), false);
                    break;
                case Value::Kind::DateTime:
                    e.type = StaticType{SqlType::DateTime, 0, false, false};
                    break;
            }
            return;
        case ExprKind::Column:
            if (!e.prebound) ResolveColumn(e, scope);
            return;
        case ExprKind::CountStar:
            if (!AggregateAllowed(mode)) return;
            aggregates->push_back(&e);
            e.type = StaticType{SqlType::Int, 0, false, false};
            return;
        case ExprKind::Subquery: {
            Select& sub = *e.subquery;
            if (!sub.order.empty()) {
                Error(msg::OrderByInSubquery());
                stop_ = true;
                return;
            }
            Scope inner;
            inner.outer = &scope;
            if (!BindSelect(sub, inner)) return;
            if (sub.items.size() != 1) {
                Error(msg::SubqueryManyColumns());
                return;
            }
            e.type = sub.items[0].expr->type;
            e.type.nullable = true;
            e.type.null_literal = false;
            e.correlated = inner.correlated;
            return;
        }
        default:
            break;
    }
    const bool is_count = e.kind == ExprKind::Function && e.builtin == Builtin::Count;
    if (is_count && !AggregateAllowed(mode)) return;
    const AggMode child_mode = is_count ? AggMode::Inside : mode;
    bool constant = !is_count;
    for (auto& a : e.args) {
        BindExpr(*a, scope, child_mode, aggregates);
        if (stop_) return;
        constant = constant && a->constant;
    }
    if (is_count) aggregates->push_back(&e);
    e.constant = constant;
    TypeOf(e);
}

bool Binder::AggregateAllowed(AggMode mode) {
    if (mode == AggMode::Allowed) return true;
    if (mode == AggMode::Inside) {
        Error(msg::Make(130, 16, 1,
                        "Cannot perform an aggregate function on an expression containing an "
                        "aggregate or a subquery."));
    } else {
        Error(msg::Make(147, 15, 1,
                        "An aggregate may not appear in the WHERE clause unless it is in a "
                        "subquery contained in a HAVING clause or a select list, and the column "
                        "being aggregated is an outer reference."));
    }
    stop_ = true;
    return false;
}

void Binder::ResolveColumn(Expr& e, Scope& scope) {
    const std::string& column = e.name.back();
    int level = 0;
    if (e.name.size() == 1) {
        for (Scope* s = &scope; s; s = s->outer, ++level) {
            if (s->values_only) {
                NotPermitted(e);
                return;
            }
            int found = -1, found_col = -1, matches = 0;
            for (std::size_t t = 0; t < s->tables.size(); ++t) {
                const int c = s->tables[t]->FindColumn(column);
                if (c >= 0) {
                    ++matches;
                    found = static_cast<int>(t);
                    found_col = c;
                }
            }
            if (matches > 1) {
                Error(msg::AmbiguousColumn(column));
                return;
            }
            if (matches == 1) {
                Bind(e, scope, *s, level, found, found_col);
                return;
            }
        }
        Error(msg::InvalidColumn(column));
        return;
    }
    const std::string qualifier = IdentifierKey(e.name[e.name.size() - 2]);
    const bool has_schema = e.name.size() >= 3;
    std::string schema_key;
    if (has_schema) {
        const std::string& sch = e.name[e.name.size() - 3];
        schema_key = IdentifierKey(sch.empty() ? "dbo" : sch);
    }
    for (Scope* s = &scope; s; s = s->outer, ++level) {
        if (s->values_only) {
            NotPermitted(e);
            return;
        }
        for (std::size_t t = 0; t < s->tables.size(); ++t) {
            if (s->exposed_keys[t] != qualifier) continue;
            if (has_schema && (s->aliased[t] || s->schema_keys[t] != schema_key)) continue;
            const int c = s->tables[t]->FindColumn(column);
            if (c < 0) {
                Error(msg::InvalidColumn(column));
                return;
            }
            Bind(e, scope, *s, level, static_cast<int>(t), c);
            return;
        }
    }
    Error(msg::MultiPartNotBound(e.text));
}

void Binder::NotPermitted(const Expr& e) {
    Error(msg::Make(128, 15, 1,
                    "The name \"" + e.text +
                        "\" is not permitted in this context. Valid expressions are constants, "
                        "constant expressions, and (in some contexts) variables. Column names "
                        "are not permitted."));
}

void Binder::Bind(Expr& e, Scope& from, Scope& owner, int level, int table, int column) {
    e.level = level;
    e.table = table;
    e.column = column;
    e.constant = false;
    e.type = ColumnType(
        owner.tables[static_cast<std::size_t>(table)]->columns[static_cast<std::size_t>(column)]);
    for (Scope* s = &from; s != &owner; s = s->outer) s->correlated = true;
}

void Binder::CheckAggregateQuery(const Expr& e, const Scope& scope) {
    if (e.kind == ExprKind::CountStar || e.kind == ExprKind::Subquery) return;
    if (e.kind == ExprKind::Function && e.builtin == Builtin::Count) return;
    if (e.kind == ExprKind::Column && e.level == 0) {
        const TableDef& t = *scope.tables[static_cast<std::size_t>(e.table)];
        Error(msg::NotInGroupBy(scope.exposed_names[static_cast<std::size_t>(e.table)] + "." +
                                t.columns[static_cast<std::size_t>(e.column)].name));
        return;
    }
    for (const auto& a : e.args) CheckAggregateQuery(*a, scope);
}

std::optional<std::int64_t> Binder::ConstantInt(Expr& e) {
    if (!e.constant) return std::nullopt;
    Value v;
    SqlError err;
    if (!ev_.Eval(e, v, err)) return std::nullopt;
    std::int64_t n = 0;
    if (v.kind == Value::Kind::Null || !ToInt(v, SqlType::Int, n, err)) return std::nullopt;
    return n;
}

void Binder::TypeOf(Expr& e) {
    auto arg = [&e](std::size_t i) -> const StaticType& { return e.args[i]->type; };
    switch (e.kind) {
        case ExprKind::Negate: {
            const StaticType& a = arg(0);
            if (a.null_literal) {
                e.type = StaticType{SqlType::Int, 0, true, false};
            } else if (!IsIntType(a.type)) {
                Error(msg::OperandInvalid(TypeWord(a.type), "minus"));
            } else {
                e.type = StaticType{a.type, 0, a.nullable, false};
            }
            return;
        }
        case ExprKind::Arithmetic:
            ArithmeticType(e);
            return;
        case ExprKind::Convert: {
            StaticType t;
            t.type = e.target.type;
            t.length = e.target.length;
            t.nullable = arg(0).nullable;
            e.type = t;
            return;
        }
        case ExprKind::Function:
            FunctionType(e);
            return;
        default:
            e.type = StaticType{SqlType::Int, 0, true, false};
            return;
    }
}

void Binder::ArithmeticType(Expr& e) {
    const StaticType& l = e.args[0]->type;
    const StaticType& r = e.args[1]->type;
    const bool nullable = l.nullable || r.nullable;
    if (l.null_literal && r.null_literal) {
        e.type = StaticType{SqlType::Int, 0, true, false};
        return;
    }
    const StaticType& a = l.null_literal ? r : l;
    const StaticType& b = r.null_literal ? l : r;
    if (IsTextType(a.type) && IsTextType(b.type)) {
        if (e.op != '+') {
            Error(msg::OperandInvalid("varchar", OperatorName(e.op)));
            return;
        }
        const int length = l.null_literal || r.null_literal ? a.length : a.length + b.length;
        const SqlType t =
            a.type == SqlType::Char && b.type == SqlType::Char ? SqlType::Char : SqlType::VarChar;
        e.type = TextType(t, length, nullable);
        return;
    }
    if (a.type == SqlType::DateTime || b.type == SqlType::DateTime) {
        if (e.op != '+' && e.op != '-') {
            Error(msg::OperandInvalid("datetime", OperatorName(e.op)));
            return;
        }
        e.type = StaticType{SqlType::DateTime, 0, nullable, false};
        return;
    }
    const SqlType t = Precedence(a.type) >= Precedence(b.type) ? a.type : b.type;
    e.type =
        StaticType{t == SqlType::SmallInt ? SqlType::SmallInt : SqlType::Int, 0, nullable, false};
}

void Binder::FunctionType(Expr& e) {
    auto arg = [&e](std::size_t i) -> const StaticType& { return e.args[i]->type; };
    switch (e.builtin) {
        case Builtin::Replicate: {
            int length = 8000;
            if (auto n = ConstantInt(*e.args[1])) {
                length = static_cast<int>(std::clamp<std::int64_t>(*n, 0, 8000) *
                                          std::max(0, TextLengthOf(arg(0))));
                length = std::min(length, 8000);
            }
            e.type = TextType(SqlType::VarChar, length, true);
            return;
        }
        case Builtin::DataLength:
        case Builtin::Len:
            e.type = StaticType{SqlType::Int, 0, arg(0).nullable, false};
            return;
        case Builtin::Str: {
            int length = 10;
            if (e.args.size() > 1) {
                auto n = ConstantInt(*e.args[1]);
                length = n ? static_cast<int>(std::clamp<std::int64_t>(*n, 0, 8000)) : 8000;
            }
            e.type = TextType(SqlType::VarChar, length, true);
            return;
        }
        case Builtin::Coalesce:
        case Builtin::IsNull: {
            const StaticType* best = nullptr;
            bool nullable = true;
            int length = 0;
            bool any_varchar = false;
            for (std::size_t i = 0; i < e.args.size(); ++i) {
                const StaticType& t = arg(i);
                nullable = nullable && t.nullable;
                if (t.null_literal) continue;
                if (IsTextType(t.type)) {
                    length = std::max(length, static_cast<int>(t.length));
                    any_varchar = any_varchar || t.type == SqlType::VarChar;
                }
                if (e.builtin == Builtin::IsNull) {
                    if (!best) best = &t;
                } else if (!best || Precedence(t.type) > Precedence(best->type)) {
                    best = &t;
                }
            }
            if (!best) {
                if (e.builtin == Builtin::Coalesce) {
                    Error(msg::Make(4127, 16, 1,
                                    "At least one of the arguments to COALESCE must be an "
                                    "expression that is not the NULL constant."));
                    return;
                }
                e.type = StaticType{SqlType::Int, 0, true, false};
                return;
            }
            StaticType t = *best;
            t.nullable = nullable;
            t.null_literal = false;
            if (IsTextType(t.type)) {
                if (e.builtin == Builtin::Coalesce) {
                    t.length = static_cast<std::uint16_t>(length);
                    t.type = any_varchar ? SqlType::VarChar : SqlType::Char;
                }
            }
            e.type = t;
            return;
        }
        case Builtin::Upper:
        case Builtin::Lower:
        case Builtin::LTrim:
        case Builtin::RTrim:
            e.type = TextType(SqlType::VarChar, TextLengthOf(arg(0)), arg(0).nullable);
            return;
        case Builtin::Count:
            e.type = StaticType{SqlType::Int, 0, false, false};
            return;
    }
}

}  // namespace tdslite::detail
