#include "engine/executor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "engine/convert.h"
#include "engine/datetime.h"
#include "engine/messages.h"
#include "engine/text_rules.h"

namespace tdslite::detail {
namespace {

enum class Tri : std::uint8_t { False, True, Unknown };

/// The current row of every table of one query level while it is being scanned.
struct Frame {
    std::vector<const Row*> rows;
};

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

Message StorageFailure(const std::string& detail) {
    return msg::Make(50000, 16, 1, "Storage failure: " + detail);
}

int Precedence(SqlType t) {
    switch (t) {
        case SqlType::DateTime: return 5;
        case SqlType::Int: return 4;
        case SqlType::SmallInt: return 3;
        case SqlType::VarChar: return 2;
        case SqlType::Char: return 1;
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
        case SqlType::VarChar: return t.length;
        case SqlType::Int: return 11;
        case SqlType::SmallInt: return 6;
        case SqlType::DateTime: return 19;
    }
    return 0;
}

const char* OperatorName(char op) {
    switch (op) {
        case '+': return "add";
        case '-': return "subtract";
        case '*': return "multiply";
        case '/': return "divide";
        default: return "modulo";
    }
}

void FitToColumn(Value& v, const ColumnInfo& c) {
    if (v.kind != Value::Kind::Text) return;
    if (v.text.size() > c.length) v.text.resize(c.length);
    if (c.type == SqlType::Char && v.text.size() < c.length) v.text.append(c.length - v.text.size(), ' ');
}

int CompareForSort(const Value& a, const Value& b) {
    if (a.kind == Value::Kind::Null || b.kind == Value::Kind::Null) {
        if (a.kind == b.kind) return 0;
        return a.kind == Value::Kind::Null ? -1 : 1;
    }
    if (a.kind != b.kind) return a.kind < b.kind ? -1 : 1;
    switch (a.kind) {
        case Value::Kind::Int: return a.integer < b.integer ? -1 : (a.integer > b.integer ? 1 : 0);
        case Value::Kind::Text: return CompareText(a.text, b.text);
        case Value::Kind::DateTime: {
            const auto x = DateTimeKey(a.datetime), y = DateTimeKey(b.datetime);
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        case Value::Kind::Null: return 0;
    }
    return 0;
}

void CollectConjuncts(Expr& e, std::vector<Expr*>& out) {
    if (e.kind == ExprKind::And) {
        CollectConjuncts(*e.args[0], out);
        CollectConjuncts(*e.args[1], out);
    } else {
        out.push_back(&e);
    }
}

/// True when e can be evaluated before table `ti` of its own level is scanned.
bool AvailableBefore(const Expr& e, int ti) {
    switch (e.kind) {
        case ExprKind::Column: return e.level > 0 || e.table < ti;
        case ExprKind::Subquery: return !e.correlated;
        case ExprKind::CountStar: return false;
        case ExprKind::Function:
            if (e.builtin == Builtin::Count) return false;
            break;
        default:
            break;
    }
    for (const auto& a : e.args) {
        if (!AvailableBefore(*a, ti)) return false;
    }
    return true;
}

bool ParseFloat(std::string_view text, double& out) {
    std::string_view s = text;
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    if (s.empty()) {
        out = 0;
        return true;
    }
    std::size_t i = 0;
    if (s[i] == '+' || s[i] == '-') ++i;
    std::size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0 || digits > 300) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exp_digits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exp_digits;
        if (exp_digits == 0 || exp_digits > 3) return false;
    }
    if (i != s.size()) return false;
    const std::string copy(s);
    out = std::strtod(copy.c_str(), nullptr);
    return true;
}

std::string FormatFixed(double v, int decimals) {
    char buf[400];
    const int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    if (n < 0 || n >= static_cast<int>(sizeof buf)) return std::string(400, '*');
    return std::string(buf, static_cast<std::size_t>(n));
}

/// STR(value, length, decimals) as the server formats it: right-aligned, decimals reduced to
/// fit, asterisks when the integer part does not fit.
std::optional<std::string> FormatStr(double v, std::int64_t length, std::int64_t decimals) {
    if (length <= 0 || length > 8000 || decimals < 0) return std::nullopt;
    const int len = static_cast<int>(length);
    int dec = static_cast<int>(std::min<std::int64_t>(decimals, 16));
    std::string s = FormatFixed(v, dec);
    if (static_cast<int>(s.size()) > len) {
        const std::string whole = FormatFixed(v, 0);
        if (static_cast<int>(whole.size()) > len) return std::string(static_cast<std::size_t>(len), '*');
        dec = len - static_cast<int>(whole.size()) - 1;
        s = dec > 0 ? FormatFixed(v, dec) : whole;
        if (static_cast<int>(s.size()) > len) s = whole;
    }
    if (static_cast<int>(s.size()) < len) s.insert(0, static_cast<std::size_t>(len) - s.size(), ' ');
    return s;
}

unsigned char LowerByte(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<unsigned char>(c + 32);
    switch (c) {
        case 0x8A: return 0x9A;
        case 0x8C: return 0x9C;
        case 0x8E: return 0x9E;
        case 0x9F: return 0xFF;
        default: return c;
    }
}

// =============================================================================================
// Evaluation
// =============================================================================================

class Evaluator {
public:
    Evaluator(Storage& storage, const Limits& limits) : storage_(storage), limits_(limits) {}

    std::vector<Frame*> frames;

    bool Charge(std::int64_t rows, SqlError& err) {
        visits_ += rows;
        if (visits_ > limits_.row_visits) {
            err = SqlError{msg::ResourcesExhausted(), false};
            return false;
        }
        return true;
    }

    bool ChargeBytes(std::int64_t bytes, SqlError& err) {
        bytes_ += bytes;
        if (bytes_ > limits_.result_bytes) {
            err = SqlError{msg::OutOfMemory(), false};
            return false;
        }
        return true;
    }

    bool Eval(Expr& e, Value& out, SqlError& err) {
        if (e.folded) {
            out = e.memo;
            return true;
        }
        if (!EvalUncached(e, out, err)) return false;
        if ((e.constant && e.kind != ExprKind::Literal) || (e.kind == ExprKind::Subquery && !e.correlated)) {
            e.memo = out;
            e.folded = true;
        }
        return true;
    }

    bool Test(Expr& e, Tri& out, SqlError& err) {
        switch (e.kind) {
            case ExprKind::Compare: {
                Value a, b;
                if (!Eval(*e.args[0], a, err) || !Eval(*e.args[1], b, err)) return false;
                if (a.kind == Value::Kind::Null || b.kind == Value::Kind::Null) {
                    out = Tri::Unknown;
                    return true;
                }
                int c = 0;
                if (!CompareValues(a, b, c, err)) return false;
                bool r = false;
                switch (e.compare) {
                    case CompareOp::Eq: r = c == 0; break;
                    case CompareOp::Ne: r = c != 0; break;
                    case CompareOp::Lt: r = c < 0; break;
                    case CompareOp::Le: r = c <= 0; break;
                    case CompareOp::Gt: r = c > 0; break;
                    case CompareOp::Ge: r = c >= 0; break;
                }
                out = r ? Tri::True : Tri::False;
                return true;
            }
            case ExprKind::And: {
                Tri a = Tri::Unknown, b = Tri::Unknown;
                if (!Test(*e.args[0], a, err)) return false;
                if (a == Tri::False) {
                    out = Tri::False;
                    return true;
                }
                if (!Test(*e.args[1], b, err)) return false;
                out = b == Tri::False ? Tri::False : (a == Tri::True && b == Tri::True ? Tri::True : Tri::Unknown);
                return true;
            }
            case ExprKind::Or: {
                Tri a = Tri::Unknown, b = Tri::Unknown;
                if (!Test(*e.args[0], a, err)) return false;
                if (a == Tri::True) {
                    out = Tri::True;
                    return true;
                }
                if (!Test(*e.args[1], b, err)) return false;
                out = b == Tri::True ? Tri::True : (a == Tri::False && b == Tri::False ? Tri::False : Tri::Unknown);
                return true;
            }
            case ExprKind::Not: {
                Tri a = Tri::Unknown;
                if (!Test(*e.args[0], a, err)) return false;
                out = a == Tri::Unknown ? Tri::Unknown : (a == Tri::True ? Tri::False : Tri::True);
                return true;
            }
            case ExprKind::IsNull: {
                Value v;
                if (!Eval(*e.args[0], v, err)) return false;
                const bool is_null = v.kind == Value::Kind::Null;
                out = is_null != e.is_not ? Tri::True : Tri::False;
                return true;
            }
            default:
                out = Tri::Unknown;
                return true;
        }
    }

    /// Evaluates the constant parts of a condition once, before any row is read, so that a bad
    /// literal conversion fails the statement also when no row qualifies.
    bool PreEvaluate(Expr& e, SqlError& err) {
        if (e.constant && !e.predicate && e.kind != ExprKind::Literal) {
            Value v;
            return Eval(e, v, err);
        }
        for (auto& a : e.args) {
            if (!PreEvaluate(*a, err)) return false;
        }
        return true;
    }

    /// Calls on_row(err) for every combination of rows of the query's tables that satisfies its
    /// condition; frame holds the current rows meanwhile.
    template <typename OnRow>
    bool Scan(Select& s, Frame& frame, OnRow&& on_row, SqlError& err) {
        std::vector<Expr*> conjuncts;
        if (s.where) CollectConjuncts(*s.where, conjuncts);
        return ScanTable(s, conjuncts, 0, frame, on_row, err);
    }

    /// Runs a scalar subquery: NULL for no row, error 512 for more than one.
    bool RunScalar(Select& s, Value& out, SqlError& err) {
        Frame frame;
        frame.rows.assign(s.tables.size(), nullptr);
        frames.push_back(&frame);
        const bool ok = RunScalarIn(s, frame, out, err);
        frames.pop_back();
        return ok;
    }

    /// Counts qualifying rows into the COUNT nodes of an aggregate query.
    bool Aggregate(Select& s, Frame& frame, SqlError& err) {
        for (Expr* a : s.aggregates) a->memo = Value::Int(0);
        return Scan(s, frame, [&](SqlError& e) {
            for (Expr* a : s.aggregates) {
                if (a->kind == ExprKind::Function) {
                    Value v;
                    if (!Eval(*a->args[0], v, e)) return false;
                    if (v.kind == Value::Kind::Null) continue;
                }
                a->memo.integer += 1;
            }
            return true;
        }, err);
    }

private:
    bool RunScalarIn(Select& s, Frame& frame, Value& out, SqlError& err) {
        Expr& item = *s.items[0].expr;
        if (!s.aggregates.empty()) {
            if (!Aggregate(s, frame, err)) return false;
            return Eval(item, out, err);
        }
        int count = 0;
        out = Value::Null();
        return Scan(s, frame, [&](SqlError& e) {
            if (++count > 1) {
                e = SqlError{msg::SubqueryManyRows(), false};
                return false;
            }
            return Eval(item, out, e);
        }, err);
    }

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
            err = SqlError{StorageFailure(storage_.LastError()), false};
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
                  std::vector<KeyCondition>& conditions, bool& empty, SqlError& err) {
        const TableDef& table = *s.tables[static_cast<std::size_t>(ti)];
        for (Expr* c : conjuncts) {
            if (c->kind != ExprKind::Compare || c->compare != CompareOp::Eq) continue;
            for (int side = 0; side < 2; ++side) {
                const Expr& col = *c->args[static_cast<std::size_t>(side)];
                Expr& other = *c->args[static_cast<std::size_t>(1 - side)];
                if (col.kind != ExprKind::Column || col.level != 0 || col.table != ti) continue;
                if (!AvailableBefore(other, ti)) continue;
                Value v;
                if (!Eval(other, v, err)) return false;
                if (v.kind == Value::Kind::Null) {
                    empty = true;
                    return true;
                }
                const ColumnDef& def = table.columns[static_cast<std::size_t>(col.column)];
                std::optional<Value> key;
                SqlError ignored;
                if (IsTextType(def.type)) {
                    if (v.kind == Value::Kind::Text) key = v;
                } else if (IsIntType(def.type)) {
                    std::int64_t n = 0;
                    if (v.kind == Value::Kind::Int) {
                        key = v;
                    } else if (v.kind == Value::Kind::Text && TextToInt(v.text, SqlType::Int, n, ignored)) {
                        key = Value::Int(n);
                    }
                } else {
                    DateTimeValue d;
                    if (ToDateTime(v, d, ignored)) key = Value::Date(d);
                }
                if (key) {
                    conditions.push_back(KeyCondition{col.column, std::move(*key)});
                    break;
                }
            }
        }
        return true;
    }

    bool EvalUncached(Expr& e, Value& out, SqlError& err) {
        switch (e.kind) {
            case ExprKind::Literal:
                out = e.literal;
                return true;
            case ExprKind::Column: {
                const std::size_t depth = frames.size() - 1 - static_cast<std::size_t>(e.level);
                const Row* row = frames[depth]->rows[static_cast<std::size_t>(e.table)];
                out = row ? row->values[static_cast<std::size_t>(e.column)] : Value::Null();
                return true;
            }
            case ExprKind::Negate: {
                Value v;
                if (!Eval(*e.args[0], v, err)) return false;
                if (v.kind == Value::Kind::Null) {
                    out = Value::Null();
                    return true;
                }
                std::int64_t n = 0;
                if (!ToInt(v, e.type.type, n, err)) return false;
                if (!CheckIntRange(-n, e.type.type, err)) return false;
                out = Value::Int(-n);
                return true;
            }
            case ExprKind::Arithmetic:
                return EvalArithmetic(e, out, err);
            case ExprKind::Function:
                return EvalFunction(e, out, err);
            case ExprKind::Convert: {
                Value v;
                if (!Eval(*e.args[0], v, err)) return false;
                int style = 0;
                if (e.has_style) {
                    Value s;
                    if (!Eval(*e.args[1], s, err)) return false;
                    std::int64_t n = 0;
                    if (s.kind != Value::Kind::Null && !ToInt(s, SqlType::Int, n, err)) return false;
                    style = static_cast<int>(n);
                }
                return ConvertExplicit(v, e.target, style, out, err);
            }
            case ExprKind::Subquery:
                return RunScalar(*e.subquery, out, err);
            case ExprKind::CountStar:
                out = Value::Int(e.memo.integer);
                return true;
            case ExprKind::Compare:
            case ExprKind::And:
            case ExprKind::Or:
            case ExprKind::Not:
            case ExprKind::IsNull:
                break;
        }
        out = Value::Null();
        return true;
    }

    bool EvalArithmetic(Expr& e, Value& out, SqlError& err) {
        Value a, b;
        if (!Eval(*e.args[0], a, err) || !Eval(*e.args[1], b, err)) return false;
        if (a.kind == Value::Kind::Null || b.kind == Value::Kind::Null) {
            out = Value::Null();
            return true;
        }
        const SqlType type = e.type.type;
        if (IsTextType(type)) {
            std::string text = ToText(a);
            text += ToText(b);
            if (text.size() > 8000) text.resize(8000);
            out = Value::Text(std::move(text));
            return true;
        }
        if (type == SqlType::DateTime) {
            DateTimeValue x, y;
            if (!ToDateTime(a, x, err) || !ToDateTime(b, y, err)) return false;
            const std::int64_t k = e.op == '+' ? DateTimeKey(x) + DateTimeKey(y) : DateTimeKey(x) - DateTimeKey(y);
            const DateTimeValue r = DateTimeFromKey(k);
            if (r.days < kMinDays || r.days > kMaxDays) {
                err = SqlError{msg::ArithmeticOverflow("expression", "datetime"), false};
                return false;
            }
            out = Value::Date(r);
            return true;
        }
        std::int64_t x = 0, y = 0;
        if (!ToInt(a, type, x, err) || !ToInt(b, type, y, err)) return false;
        std::int64_t r = 0;
        switch (e.op) {
            case '+': r = x + y; break;
            case '-': r = x - y; break;
            case '*': r = x * y; break;
            case '/':
            case '%':
                if (y == 0) {
                    err = SqlError{msg::DivideByZero(), false};
                    return false;
                }
                r = e.op == '/' ? x / y : x % y;
                break;
            default: break;
        }
        if (!CheckIntRange(r, type, err)) return false;
        out = Value::Int(r);
        return true;
    }

    bool EvalFunction(Expr& e, Value& out, SqlError& err) {
        switch (e.builtin) {
            case Builtin::Coalesce: {
                for (auto& a : e.args) {
                    Value v;
                    if (!Eval(*a, v, err)) return false;
                    if (v.kind != Value::Kind::Null) return ConvertImplicit(v, e.type, out, err);
                }
                out = Value::Null();
                return true;
            }
            case Builtin::IsNull: {
                Value v;
                if (!Eval(*e.args[0], v, err)) return false;
                if (v.kind == Value::Kind::Null && !Eval(*e.args[1], v, err)) return false;
                return ConvertImplicit(v, e.type, out, err);
            }
            case Builtin::Count:
                out = Value::Int(e.memo.integer);
                return true;
            default:
                break;
        }
        std::vector<Value> v(e.args.size());
        for (std::size_t i = 0; i < e.args.size(); ++i) {
            if (!Eval(*e.args[i], v[i], err)) return false;
        }
        for (const Value& x : v) {
            if (x.kind == Value::Kind::Null) {
                out = Value::Null();
                return true;
            }
        }
        switch (e.builtin) {
            case Builtin::Replicate: {
                std::int64_t n = 0;
                if (!ToInt(v[1], SqlType::Int, n, err)) return false;
                if (n < 0) {
                    out = Value::Null();
                    return true;
                }
                const std::string unit = ToText(v[0]);
                std::string text;
                if (!unit.empty()) {
                    const std::int64_t times = std::min<std::int64_t>(n, 8000 / static_cast<std::int64_t>(unit.size()) + 1);
                    text.reserve(static_cast<std::size_t>(times) * unit.size());
                    for (std::int64_t i = 0; i < times; ++i) text += unit;
                    if (text.size() > 8000) text.resize(8000);
                }
                out = Value::Text(std::move(text));
                return true;
            }
            case Builtin::DataLength: {
                const Value& x = v[0];
                std::int64_t n = 0;
                switch (x.kind) {
                    case Value::Kind::Text: n = static_cast<std::int64_t>(x.text.size()); break;
                    case Value::Kind::Int: n = e.args[0]->type.type == SqlType::SmallInt ? 2 : 4; break;
                    case Value::Kind::DateTime: n = 8; break;
                    case Value::Kind::Null: break;
                }
                out = Value::Int(n);
                return true;
            }
            case Builtin::Len:
                out = Value::Int(static_cast<std::int64_t>(TrimTrailingBlanks(ToText(v[0])).size()));
                return true;
            case Builtin::Str: {
                double d = 0;
                if (v[0].kind == Value::Kind::Int) {
                    d = static_cast<double>(v[0].integer);
                } else if (v[0].kind != Value::Kind::Text || !ParseFloat(v[0].text, d)) {
                    err = SqlError{msg::ConvertToFloat(v[0].kind == Value::Kind::Text ? "varchar" : "datetime"), true};
                    return false;
                }
                std::int64_t length = 10, decimals = 0;
                if (v.size() > 1 && !ToInt(v[1], SqlType::Int, length, err)) return false;
                if (v.size() > 2 && !ToInt(v[2], SqlType::Int, decimals, err)) return false;
                auto s = FormatStr(d, length, decimals);
                out = s ? Value::Text(std::move(*s)) : Value::Null();
                return true;
            }
            case Builtin::Upper:
            case Builtin::Lower: {
                std::string t = ToText(v[0]);
                for (char& c : t) {
                    const auto u = static_cast<unsigned char>(c);
                    c = static_cast<char>(e.builtin == Builtin::Upper ? FoldCase(u) : LowerByte(u));
                }
                out = Value::Text(std::move(t));
                return true;
            }
            case Builtin::LTrim: {
                std::string t = ToText(v[0]);
                std::size_t i = 0;
                while (i < t.size() && t[i] == ' ') ++i;
                out = Value::Text(t.substr(i));
                return true;
            }
            case Builtin::RTrim:
                out = Value::Text(std::string(TrimTrailingBlanks(ToText(v[0]))));
                return true;
            default:
                break;
        }
        out = Value::Null();
        return true;
    }

    Storage& storage_;
    const Limits& limits_;
    std::int64_t visits_ = 0;
    std::int64_t bytes_ = 0;
};

// =============================================================================================
// Binding
// =============================================================================================

class Binder {
public:
    Binder(Storage& storage, Evaluator& ev) : storage_(storage), ev_(ev) {}

    std::vector<Message> errors;
    bool Failed() const { return !errors.empty(); }

    /// Finds a table; on failure records 208 with the name as written.
    const TableDef* ResolveTable(const ObjectName& name) {
        const std::size_t n = name.parts.size();
        const std::string& schema = n >= 2 ? name.parts[n - 2] : std::string();
        const TableDef* t = storage_.FindTable(schema.empty() ? "dbo" : schema, name.parts[n - 1]);
        if (!t) {
            Error(msg::InvalidObject(name.text));
            stop_ = true;
        }
        return t;
    }

    void AddTable(Scope& scope, const TableDef* t, const TableRef& ref) {
        const std::string& shown = ref.alias.empty() ? ref.name.parts.back() : ref.alias;
        const std::size_t n = ref.name.parts.size();
        const std::string schema = n >= 2 && !ref.name.parts[n - 2].empty() ? ref.name.parts[n - 2] : "dbo";
        scope.tables.push_back(t);
        scope.exposed_keys.push_back(IdentifierKey(shown));
        scope.exposed_names.push_back(shown);
        scope.schema_keys.push_back(IdentifierKey(schema));
        scope.aliased.push_back(!ref.alias.empty());
    }

    bool BindSelect(Select& s, Scope& scope) {
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
                if (e.literal.integer < 1 || e.literal.integer > static_cast<std::int64_t>(s.items.size())) {
                    Error(msg::Make(108, 15, 1,
                                    "The ORDER BY position number " + std::to_string(e.literal.integer) +
                                        " is out of range of the number of items in the select list."));
                    return false;
                }
                o.select_index = static_cast<int>(e.literal.integer - 1);
                continue;
            }
            BindExpr(e, scope, AggMode::Allowed, &s.aggregates);
            if (stop_) return false;
        }
        if (!s.aggregates.empty()) {
            for (SelectItem& item : s.items) CheckAggregateQuery(*item.expr, scope);
            for (OrderItem& o : s.order) {
                if (o.select_index < 0) CheckAggregateQuery(*o.expr, scope);
            }
        }
        return !Failed();
    }

    static StaticType ColumnType(const ColumnDef& c) {
        StaticType t;
        t.type = c.type;
        t.length = c.length;
        t.nullable = c.nullable;
        return t;
    }

    void BindExpr(Expr& e, Scope& scope, AggMode mode, std::vector<Expr*>* aggregates) {
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
                        e.type = TextType(SqlType::VarChar, static_cast<int>(e.literal.text.size()), false);
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

private:
    void Error(Message m) { errors.push_back(std::move(m)); }

    bool AggregateAllowed(AggMode mode) {
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

    void ResolveColumn(Expr& e, Scope& scope) {
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

    void NotPermitted(const Expr& e) {
        Error(msg::Make(128, 15, 1,
                        "The name \"" + e.text +
                            "\" is not permitted in this context. Valid expressions are constants, "
                            "constant expressions, and (in some contexts) variables. Column names "
                            "are not permitted."));
    }

    static void Bind(Expr& e, Scope& from, Scope& owner, int level, int table, int column) {
        e.level = level;
        e.table = table;
        e.column = column;
        e.constant = false;
        e.type = ColumnType(owner.tables[static_cast<std::size_t>(table)]->columns[static_cast<std::size_t>(column)]);
        for (Scope* s = &from; s != &owner; s = s->outer) s->correlated = true;
    }

    void CheckAggregateQuery(const Expr& e, const Scope& scope) {
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

    /// Constant integer value of an argument for result lengths; nullopt when not constant.
    std::optional<std::int64_t> ConstantInt(Expr& e) {
        if (!e.constant) return std::nullopt;
        Value v;
        SqlError err;
        if (!ev_.Eval(e, v, err)) return std::nullopt;
        std::int64_t n = 0;
        if (v.kind == Value::Kind::Null || !ToInt(v, SqlType::Int, n, err)) return std::nullopt;
        return n;
    }

    void TypeOf(Expr& e) {
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

    void ArithmeticType(Expr& e) {
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
            const SqlType t = a.type == SqlType::Char && b.type == SqlType::Char ? SqlType::Char : SqlType::VarChar;
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
        e.type = StaticType{t == SqlType::SmallInt ? SqlType::SmallInt : SqlType::Int, 0, nullable, false};
    }

    void FunctionType(Expr& e) {
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

    Storage& storage_;
    Evaluator& ev_;
    bool stop_ = false;
};

// =============================================================================================
// Statements
// =============================================================================================

std::string HexSuffix(std::string_view text) {
    std::uint64_t h = 1469598103934665603ULL;
    for (char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(h));
    return buf;
}

std::string KeyValueText(const Value& v) {
    switch (v.kind) {
        case Value::Kind::Null: return "<NULL>";
        case Value::Kind::Int: return std::to_string(v.integer);
        case Value::Kind::Text: return v.text;
        case Value::Kind::DateTime: return FormatDateTime(v.datetime, 121);
    }
    return std::string();
}

class StatementRunner {
public:
    StatementRunner(Storage& storage, const Limits& limits)
        : storage_(storage), ev_(storage, limits), binder_(storage, ev_) {}

    StatementResult result;
    bool abort_batch = false;

    void Run(Statement& st) {
        std::visit([this](auto& body) { Do(body); }, st.body);
        for (Message& m : result.messages) m.line = st.line;
    }

private:
    void CompileFailed() {
        result.failed = true;
        abort_batch = true;
        for (Message& m : binder_.errors) result.messages.push_back(std::move(m));
        binder_.errors.clear();
    }

    void RuntimeFailed(SqlError& err, bool terminated_notice) {
        storage_.Rollback();
        result.failed = true;
        result.has_result_set = false;
        result.columns.clear();
        result.rows.clear();
        result.count_valid = false;
        abort_batch = err.aborts_batch;
        result.messages.push_back(std::move(err.message));
        if (terminated_notice) result.messages.push_back(msg::StatementTerminated());
    }

    void Fail(Message m, bool abort) {
        result.failed = true;
        abort_batch = abort;
        result.messages.push_back(std::move(m));
    }

    // ---- SELECT ---------------------------------------------------------------------------
    void Do(Select& s) {
        Scope scope;
        if (!binder_.BindSelect(s, scope)) return CompileFailed();
        for (const SelectItem& item : s.items) {
            ColumnInfo c;
            const Expr& e = *item.expr;
            if (item.has_alias) {
                c.name = item.alias;
            } else if (e.kind == ExprKind::Column) {
                c.name = s.tables[static_cast<std::size_t>(e.table)]->columns[static_cast<std::size_t>(e.column)].name;
            }
            c.type = e.type.type;
            c.length = IsTextType(c.type) ? static_cast<std::uint16_t>(std::clamp<int>(e.type.length, 1, 8000)) : 0;
            c.nullable = e.type.nullable;
            result.columns.push_back(std::move(c));
        }

        Frame frame;
        frame.rows.assign(s.tables.size(), nullptr);
        ev_.frames.push_back(&frame);
        SqlError err;
        std::vector<std::vector<Value>> keys;
        bool ok = !s.where || ev_.PreEvaluate(*s.where, err);
        if (ok && !s.aggregates.empty()) {
            ok = ev_.Aggregate(s, frame, err);
            if (ok) {
                std::vector<Value> row(s.items.size());
                for (std::size_t i = 0; ok && i < s.items.size(); ++i) ok = ev_.Eval(*s.items[i].expr, row[i], err);
                if (ok) result.rows.push_back(std::move(row));
            }
        } else if (ok) {
            ok = ev_.Scan(s, frame, [&](SqlError& e) {
                std::vector<Value> row(s.items.size());
                std::int64_t bytes = 16;
                for (std::size_t i = 0; i < s.items.size(); ++i) {
                    if (!ev_.Eval(*s.items[i].expr, row[i], e)) return false;
                    FitToColumn(row[i], result.columns[i]);
                    bytes += 8 + static_cast<std::int64_t>(row[i].text.size());
                }
                if (!ev_.ChargeBytes(bytes, e)) return false;
                if (!s.order.empty()) {
                    std::vector<Value> key(s.order.size());
                    for (std::size_t k = 0; k < s.order.size(); ++k) {
                        const OrderItem& o = s.order[k];
                        if (o.select_index >= 0) {
                            key[k] = row[static_cast<std::size_t>(o.select_index)];
                        } else if (!ev_.Eval(*o.expr, key[k], e)) {
                            return false;
                        }
                    }
                    keys.push_back(std::move(key));
                }
                result.rows.push_back(std::move(row));
                return true;
            }, err);
        }
        ev_.frames.pop_back();
        if (!ok) return RuntimeFailed(err, false);
        if (!s.order.empty() && s.aggregates.empty()) SortRows(s, keys);
        result.has_result_set = true;
        result.count_valid = true;
        result.row_count = static_cast<std::int64_t>(result.rows.size());
    }

    void SortRows(const Select& s, std::vector<std::vector<Value>>& keys) {
        std::vector<std::size_t> order(result.rows.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            for (std::size_t k = 0; k < s.order.size(); ++k) {
                int c = CompareForSort(keys[a][k], keys[b][k]);
                if (s.order[k].descending) c = -c;
                if (c != 0) return c < 0;
            }
            return false;
        });
        std::vector<std::vector<Value>> sorted;
        sorted.reserve(order.size());
        for (std::size_t i : order) sorted.push_back(std::move(result.rows[i]));
        result.rows = std::move(sorted);
    }

    // ---- INSERT ---------------------------------------------------------------------------
    void Do(Insert& ins) {
        const TableDef* t = binder_.ResolveTable(ins.table.name);
        if (!t) return CompileFailed();
        std::vector<int> targets;
        for (const std::string& name : ins.columns) {
            const int c = t->FindColumn(name);
            if (c < 0) {
                binder_.errors.push_back(msg::InvalidColumn(name));
                continue;
            }
            if (std::find(targets.begin(), targets.end(), c) != targets.end()) {
                binder_.errors.push_back(msg::ColumnSpecifiedTwice(name));
                continue;
            }
            targets.push_back(c);
        }
        if (binder_.Failed()) return CompileFailed();
        for (const auto& row : ins.rows) {
            if (row.size() != ins.rows[0].size()) {
                binder_.errors.push_back(msg::RowValueCountsDiffer());
                return CompileFailed();
            }
        }
        if (ins.columns.empty()) {
            for (std::size_t i = 0; i < t->columns.size(); ++i) targets.push_back(static_cast<int>(i));
            if (ins.rows[0].size() != targets.size()) {
                binder_.errors.push_back(msg::ColumnCountMismatch());
                return CompileFailed();
            }
        } else if (ins.rows[0].size() != targets.size()) {
            binder_.errors.push_back(ins.rows[0].size() > targets.size() ? msg::FewerColumnsThanValues()
                                                                          : msg::MoreColumnsThanValues());
            return CompileFailed();
        }
        Scope scope;
        scope.values_only = true;
        for (auto& row : ins.rows) {
            for (auto& e : row) binder_.BindExpr(*e, scope, AggMode::Forbidden, nullptr);
        }
        if (binder_.Failed()) return CompileFailed();

        Frame frame;
        ev_.frames.push_back(&frame);
        SqlError err;
        const bool ok = InsertRows(*t, targets, ins, err);
        ev_.frames.pop_back();
        if (!ok) return RuntimeFailed(err, true);
        result.count_valid = true;
        result.row_count = static_cast<std::int64_t>(ins.rows.size());
    }

    bool InsertRows(const TableDef& t, const std::vector<int>& targets, Insert& ins, SqlError& err) {
        if (!storage_.Begin()) {
            err = SqlError{StorageFailure(storage_.LastError()), false};
            return false;
        }
        for (auto& exprs : ins.rows) {
            std::vector<Value> values(t.columns.size());
            for (std::size_t i = 0; i < exprs.size(); ++i) {
                const auto c = static_cast<std::size_t>(targets[i]);
                Value v;
                if (!ev_.Eval(*exprs[i], v, err)) return false;
                if (!ConvertForStore(v, t.columns[c], values[c], err)) return false;
            }
            if (!StoreRow(t, values, std::nullopt, err)) return false;
        }
        if (!storage_.Commit()) {
            err = SqlError{StorageFailure(storage_.LastError()), false};
            return false;
        }
        return true;
    }

    /// Checks NOT NULL and writes one row (insert, or update of rowid).
    bool StoreRow(const TableDef& t, const std::vector<Value>& values, std::optional<std::int64_t> rowid,
                  SqlError& err) {
        for (std::size_t c = 0; c < t.columns.size(); ++c) {
            if (!t.columns[c].nullable && values[c].kind == Value::Kind::Null) {
                err = SqlError{msg::NullNotAllowed(t.columns[c].name,
                                                   std::string(kDatabaseName) + "." + t.schema + "." + t.name,
                                                   rowid.has_value()),
                               false};
                return false;
            }
        }
        const Storage::WriteResult r = rowid ? storage_.UpdateRow(t, *rowid, values) : storage_.InsertRow(t, values);
        if (r == Storage::WriteResult::Ok) return true;
        if (r == Storage::WriteResult::DuplicateKey && !t.key.empty()) {
            std::string list;
            for (std::size_t k = 0; k < t.key.size(); ++k) {
                if (k > 0) list += ", ";
                list += KeyValueText(values[static_cast<std::size_t>(t.key[k])]);
            }
            err = SqlError{msg::DuplicateKey(t.key_name, t.schema + "." + t.name, list), false};
            return false;
        }
        err = SqlError{StorageFailure(storage_.LastError()), false};
        return false;
    }

    // ---- UPDATE / DELETE ------------------------------------------------------------------
    /// Binds the single-table scope of UPDATE/DELETE as a query over that table.
    bool BindTarget(const TableRef& ref, Select& query, Scope& scope, std::unique_ptr<Expr>& where) {
        const TableDef* t = binder_.ResolveTable(ref.name);
        if (!t) return false;
        binder_.AddTable(scope, t, ref);
        query.tables = scope.tables;
        query.where = std::move(where);
        if (query.where) binder_.BindExpr(*query.where, scope, AggMode::Forbidden, nullptr);
        return !binder_.Failed();
    }

    void Do(Update& up) {
        Select query;
        Scope scope;
        if (!BindTarget(up.table, query, scope, up.where)) return CompileFailed();
        const TableDef& t = *query.tables[0];
        std::vector<int> targets;
        for (Assignment& a : up.assignments) {
            const int c = t.FindColumn(a.column.back());
            if (c < 0) {
                binder_.errors.push_back(msg::InvalidColumn(a.column.back()));
                continue;
            }
            if (std::find(targets.begin(), targets.end(), c) != targets.end()) {
                binder_.errors.push_back(msg::ColumnSpecifiedTwice(a.column.back()));
                continue;
            }
            targets.push_back(c);
            binder_.BindExpr(*a.value, scope, AggMode::Forbidden, nullptr);
        }
        if (binder_.Failed()) return CompileFailed();

        Frame frame;
        frame.rows.assign(1, nullptr);
        ev_.frames.push_back(&frame);
        SqlError err;
        std::vector<std::pair<std::int64_t, std::vector<Value>>> changes;
        bool ok = !query.where || ev_.PreEvaluate(*query.where, err);
        ok = ok && ev_.Scan(query, frame, [&](SqlError& e) {
            const Row& row = *frame.rows[0];
            std::vector<Value> values = row.values;
            for (std::size_t i = 0; i < targets.size(); ++i) {
                const auto c = static_cast<std::size_t>(targets[i]);
                Value v;
                if (!ev_.Eval(*up.assignments[i].value, v, e)) return false;
                if (!ConvertForStore(v, t.columns[c], values[c], e)) return false;
            }
            changes.emplace_back(row.rowid, std::move(values));
            return true;
        }, err);
        ev_.frames.pop_back();
        if (ok) {
            ok = storage_.Begin();
            if (!ok) err = SqlError{StorageFailure(storage_.LastError()), false};
            for (std::size_t i = 0; ok && i < changes.size(); ++i) {
                ok = StoreRow(t, changes[i].second, changes[i].first, err);
            }
            if (ok && !storage_.Commit()) {
                ok = false;
                err = SqlError{StorageFailure(storage_.LastError()), false};
            }
        }
        if (!ok) return RuntimeFailed(err, true);
        result.count_valid = true;
        result.row_count = static_cast<std::int64_t>(changes.size());
    }

    void Do(Delete& del) {
        Select query;
        Scope scope;
        if (!BindTarget(del.table, query, scope, del.where)) return CompileFailed();
        const TableDef& t = *query.tables[0];
        Frame frame;
        frame.rows.assign(1, nullptr);
        ev_.frames.push_back(&frame);
        SqlError err;
        std::vector<std::int64_t> rowids;
        bool ok = !query.where || ev_.PreEvaluate(*query.where, err);
        ok = ok && ev_.Scan(query, frame, [&](SqlError&) {
            rowids.push_back(frame.rows[0]->rowid);
            return true;
        }, err);
        ev_.frames.pop_back();
        if (ok) {
            ok = storage_.Begin();
            for (std::size_t i = 0; ok && i < rowids.size(); ++i) ok = storage_.DeleteRow(t, rowids[i]);
            ok = ok && storage_.Commit();
            if (!ok) err = SqlError{StorageFailure(storage_.LastError()), false};
        }
        if (!ok) return RuntimeFailed(err, true);
        result.count_valid = true;
        result.row_count = static_cast<std::int64_t>(rowids.size());
    }

    // ---- DDL ------------------------------------------------------------------------------
    void Do(CreateSchema& cs) {
        if (storage_.FindSchema(cs.name)) return Fail(msg::ObjectExists(cs.name), false);
        if (!storage_.CreateSchema(cs.name)) return Fail(StorageFailure(storage_.LastError()), false);
    }

    void Do(CreateTable& ct) {
        const std::size_t n = ct.name.parts.size();
        const std::string& written_schema = n >= 2 ? ct.name.parts[n - 2] : std::string();
        const std::string& table_name = ct.name.parts[n - 1];
        const std::string* schema = storage_.FindSchema(written_schema.empty() ? "dbo" : written_schema);
        if (!schema) return Fail(msg::SchemaMissing(written_schema), false);
        if (storage_.FindTable(*schema, table_name)) return Fail(msg::ObjectExists(table_name), false);
        if (ct.columns.size() > 1024) return Fail(msg::TooManyColumns(ct.columns[1024].name, table_name), false);
        if (ct.primary_key_clauses > 1) return Fail(msg::MultiplePrimaryKeys(table_name), false);

        TableDef def;
        def.schema = *schema;
        def.name = table_name;
        for (std::size_t i = 0; i < ct.columns.size(); ++i) {
            const ColumnSpec& spec = ct.columns[i];
            const int number = static_cast<int>(i) + 1;
            if (!spec.type_known) return Fail(msg::UnknownType(number, spec.type_name), false);
            ColumnDef c;
            c.name = spec.name;
            c.key = IdentifierKey(spec.name);
            c.type = spec.type.type;
            if (IsTextType(c.type)) {
                if (spec.length_written == 0) return Fail(msg::ZeroLength(ct.name.line), false);
                if (spec.length_written > 8000) return Fail(msg::SizeTooBig(spec.length_written, spec.name), false);
                c.length = static_cast<std::uint16_t>(spec.length_written < 0 ? 1 : spec.length_written);
            } else if (spec.length_written >= 0) {
                return Fail(msg::Make(2716, 16, 1,
                                      "Column, parameter, or variable #" + std::to_string(number) +
                                          ": Cannot specify a column width on data type " + spec.type_name + "."),
                            false);
            }
            c.nullable = spec.nullable.value_or(true);
            if (def.FindColumn(spec.name) >= 0) return Fail(msg::DuplicateColumnName(spec.name, table_name), false);
            if (spec.primary_key) {
                if (spec.nullable == std::optional<bool>(true)) return Fail(msg::NullablePrimaryKey(table_name), false);
                def.key.push_back(static_cast<int>(i));
                def.key_name = spec.constraint_name;
            }
            def.columns.push_back(std::move(c));
        }
        for (const std::string& k : ct.key_columns) {
            const int c = def.FindColumn(k);
            if (c < 0) return Fail(msg::PrimaryKeyColumnMissing(k), false);
            if (ct.columns[static_cast<std::size_t>(c)].nullable == std::optional<bool>(true)) {
                return Fail(msg::NullablePrimaryKey(table_name), false);
            }
            if (std::find(def.key.begin(), def.key.end(), c) == def.key.end()) def.key.push_back(c);
        }
        if (!ct.key_columns.empty()) def.key_name = ct.key_name;
        for (int k : def.key) def.columns[static_cast<std::size_t>(k)].nullable = false;
        if (!def.key.empty() && def.key_name.empty()) {
            def.key_name = "PK__" + table_name.substr(0, 8) + "__" + HexSuffix(*schema + "." + table_name);
        }
        if (!storage_.CreateTable(std::move(def))) return Fail(StorageFailure(storage_.LastError()), false);
    }

    void Do(DropTable& drop) {
        for (const ObjectName& name : drop.names) {
            const std::size_t n = name.parts.size();
            const std::string& schema = n >= 2 ? name.parts[n - 2] : std::string();
            const TableDef* t = storage_.FindTable(schema.empty() ? "dbo" : schema, name.parts[n - 1]);
            if (!t) {
                if (drop.if_exists) continue;
                return Fail(msg::CannotDropTable(name.text), false);
            }
            if (!storage_.DropTable(*t)) return Fail(StorageFailure(storage_.LastError()), false);
        }
    }

    void Do(SetOption&) {}

    Storage& storage_;
    Evaluator ev_;
    Binder binder_;
};

}  // namespace

StatementResult Executor::Run(Statement& statement, bool* abort_batch) {
    StatementRunner runner(storage_, limits_);
    runner.Run(statement);
    if (abort_batch) *abort_batch = runner.abort_batch;
    return std::move(runner.result);
}

}  // namespace tdslite::detail
