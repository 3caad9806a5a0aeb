#include "engine/evaluator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "engine/datetime.h"
#include "engine/text_rules.h"

namespace tdslite::detail {
namespace {

/// True when e can be evaluated before table `ti` of its own level is scanned.
bool AvailableBefore(const Expr& e, int ti) {
    switch (e.kind) {
        case ExprKind::Column:
            return e.level > 0 || e.table < ti;
        case ExprKind::Subquery:
            return !e.correlated;
        case ExprKind::CountStar:
            return false;
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

/// Fixed-point text of v with halves rounded away from zero, as STR rounds.
std::string FormatFixed(double v, int decimals) {
    const double scale = std::pow(10.0, decimals);
    if (std::isfinite(v) && std::fabs(v * scale) < 9.0e15) v = std::round(v * scale) / scale;
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
        if (static_cast<int>(whole.size()) > len)
            return std::string(static_cast<std::size_t>(len), '*');
        dec = len - static_cast<int>(whole.size()) - 1;
        s = dec > 0 ? FormatFixed(v, dec) : whole;
        if (static_cast<int>(s.size()) > len) s = whole;
    }
    if (static_cast<int>(s.size()) < len)
        s.insert(0, static_cast<std::size_t>(len) - s.size(), ' ');
    return s;
}

unsigned char LowerByte(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<unsigned char>(c + 32);
    switch (c) {
        case 0x8A:
            return 0x9A;
        case 0x8C:
            return 0x9C;
        case 0x8E:
            return 0x9E;
        case 0x9F:
            return 0xFF;
        default:
            return c;
    }
}

}  // namespace

void CollectConjuncts(Expr& e, std::vector<Expr*>& out) {
    if (e.kind == ExprKind::And) {
        CollectConjuncts(*e.args[0], out);
        CollectConjuncts(*e.args[1], out);
    } else {
        out.push_back(&e);
    }
}

bool Evaluator::Charge(std::int64_t rows, SqlError& err) {
    visits_ += rows;
    if (visits_ > limits_.row_visits) {
        err = SqlError{msg::ResourcesExhausted(), false};
        return false;
    }
    return true;
}

bool Evaluator::ChargeBytes(std::int64_t bytes, SqlError& err) {
    bytes_ += bytes;
    if (bytes_ > limits_.result_bytes) {
        err = SqlError{msg::OutOfMemory(), false};
        return false;
    }
    return true;
}

bool Evaluator::Eval(Expr& e, Value& out, SqlError& err) {
    if (e.folded) {
        out = e.memo;
        return true;
    }
    if (!EvalUncached(e, out, err)) return false;
    if ((e.constant && e.kind != ExprKind::Literal) ||
        (e.kind == ExprKind::Subquery && !e.correlated)) {
        e.memo = out;
        e.folded = true;
    }
    return true;
}

bool Evaluator::Test(Expr& e, Tri& out, SqlError& err) {
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
                case CompareOp::Eq:
                    r = c == 0;
                    break;
                case CompareOp::Ne:
                    r = c != 0;
                    break;
                case CompareOp::Lt:
                    r = c < 0;
                    break;
                case CompareOp::Le:
                    r = c <= 0;
                    break;
                case CompareOp::Gt:
                    r = c > 0;
                    break;
                case CompareOp::Ge:
                    r = c >= 0;
                    break;
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
            out = b == Tri::False ? Tri::False
                                  : (a == Tri::True && b == Tri::True ? Tri::True : Tri::Unknown);
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
            out = b == Tri::True ? Tri::True
                                 : (a == Tri::False && b == Tri::False ? Tri::False : Tri::Unknown);
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

bool Evaluator::PreEvaluate(Expr& e, SqlError& err) {
    if (e.constant && !e.predicate && e.kind != ExprKind::Literal) {
        Value v;
        return Eval(e, v, err);
    }
    for (auto& a : e.args) {
        if (!PreEvaluate(*a, err)) return false;
    }
    return true;
}

bool Evaluator::RunScalar(Select& s, Value& out, SqlError& err) {
    Frame frame;
    frame.rows.assign(s.tables.size(), nullptr);
    frames.push_back(&frame);
    const bool ok = RunScalarIn(s, frame, out, err);
    frames.pop_back();
    return ok;
}

bool Evaluator::Aggregate(Select& s, Frame& frame, SqlError& err) {
    for (Expr* a : s.aggregates) a->memo = Value::Int(0);
    return Scan(
        s, frame,
        [&](SqlError& e) {
            for (Expr* a : s.aggregates) {
                if (a->kind == ExprKind::Function) {
                    Value v;
                    if (!Eval(*a->args[0], v, e)) return false;
                    if (v.kind == Value::Kind::Null) continue;
                }
                a->memo.integer += 1;
            }
            return true;
        },
        err);
}

bool Evaluator::RunScalarIn(Select& s, Frame& frame, Value& out, SqlError& err) {
    Expr& item = *s.items[0].expr;
    if (!s.aggregates.empty()) {
        if (!Aggregate(s, frame, err)) return false;
        return Eval(item, out, err);
    }
    int count = 0;
    out = Value::Null();
    return Scan(
        s, frame,
        [&](SqlError& e) {
            if (++count > 1) {
                e = SqlError{msg::SubqueryManyRows(), false};
                return false;
            }
            return Eval(item, out, e);
        },
        err);
}

bool Evaluator::Pushdown(Select& s, const std::vector<Expr*>& conjuncts, int ti,
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
                } else if (v.kind == Value::Kind::Text &&
                           TextToInt(v.text, SqlType::Int, n, ignored)) {
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

bool Evaluator::EvalUncached(Expr& e, Value& out, SqlError& err) {
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

bool Evaluator::EvalArithmetic(Expr& e, Value& out, SqlError& err) {
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
        const std::int64_t k =
            e.op == '+' ? DateTimeKey(x) + DateTimeKey(y) : DateTimeKey(x) - DateTimeKey(y);
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
        case '+':
            r = x + y;
            break;
        case '-':
            r = x - y;
            break;
        case '*':
            r = x * y;
            break;
        case '/':
        case '%':
            if (y == 0) {
                err = SqlError{msg::DivideByZero(), false};
                return false;
            }
            r = e.op == '/' ? x / y : x % y;
            break;
        default:
            break;
    }
    if (!CheckIntRange(r, type, err)) return false;
    out = Value::Int(r);
    return true;
}

bool Evaluator::EvalFunction(Expr& e, Value& out, SqlError& err) {
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
                const std::int64_t times =
                    std::min<std::int64_t>(n, 8000 / static_cast<std::int64_t>(unit.size()) + 1);
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
                case Value::Kind::Text:
                    n = static_cast<std::int64_t>(x.text.size());
                    break;
                case Value::Kind::Int:
                    n = e.args[0]->type.type == SqlType::SmallInt ? 2 : 4;
                    break;
                case Value::Kind::DateTime:
                    n = 8;
                    break;
                case Value::Kind::Null:
                    break;
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
                err = SqlError{
                    msg::ConvertToFloat(v[0].kind == Value::Kind::Text ? "varchar" : "datetime"),
                    true};
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

}  // namespace tdslite::detail
