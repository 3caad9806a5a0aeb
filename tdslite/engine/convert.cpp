#include "engine/convert.h"

#include "engine/datetime.h"
#include "engine/messages.h"
#include "engine/text_rules.h"

namespace tdslite::detail {
namespace {

SqlError Abort(Message m) {
    return SqlError{std::move(m), true};
}
SqlError StatementError(Message m) {
    return SqlError{std::move(m), false};
}

void PadOrCut(std::string& text, SqlType type, std::uint16_t length) {
    if (text.size() > length) text.resize(length);
    if (type == SqlType::Char && text.size() < length) text.append(length - text.size(), ' ');
}

}  // namespace

const char* TypeWord(SqlType t) {
    switch (t) {
        case SqlType::Int:
            return "int";
        case SqlType::SmallInt:
            return "smallint";
        case SqlType::Char:
            return "char";
        case SqlType::VarChar:
            return "varchar";
        case SqlType::DateTime:
            return "datetime";
    }
    return "int";
}

bool CheckIntRange(std::int64_t v, SqlType type, SqlError& err) {
    if (type == SqlType::SmallInt) {
        if (v < -32768 || v > 32767) {
            err = StatementError(msg::SmallIntOverflow(v));
            return false;
        }
        return true;
    }
    if (v < -2147483648LL || v > 2147483647LL) {
        err = StatementError(msg::ArithmeticOverflow("expression", "int"));
        return false;
    }
    return true;
}

bool TextToInt(std::string_view text, SqlType target, std::int64_t& out, SqlError& err) {
    std::string_view s = text;
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::int64_t v = 0;
    bool overflow = false;
    for (char c : s) {
        if (c < '0' || c > '9') {
            err = Abort(msg::ConversionToInt(text, TypeWord(target)));
            return false;
        }
        if (v > 100000000000LL) {
            overflow = true;
        } else {
            v = v * 10 + (c - '0');
        }
    }
    if (negative) v = -v;
    const std::int64_t lo = target == SqlType::SmallInt ? -32768 : -2147483648LL;
    const std::int64_t hi = target == SqlType::SmallInt ? 32767 : 2147483647LL;
    if (overflow || v < lo || v > hi) {
        err = Abort(target == SqlType::SmallInt ? msg::SmallIntOverflowFromText(text)
                                                : msg::IntOverflowFromText(text));
        return false;
    }
    out = v;
    return true;
}

bool TextToDateTime(std::string_view text, int style, DateTimeValue& out, SqlError& err) {
    switch (ParseDateTime(text, style, out)) {
        case DateParse::Ok:
            return true;
        case DateParse::Syntax:
            err = Abort(msg::ConversionDateTime());
            return false;
        case DateParse::OutOfRange:
            err = Abort(msg::DateTimeOutOfRange());
            return false;
    }
    return false;
}

bool ToInt(const Value& v, SqlType target, std::int64_t& out, SqlError& err) {
    switch (v.kind) {
        case Value::Kind::Int:
            out = v.integer;
            return CheckIntRange(out, target, err);
        case Value::Kind::Text:
            return TextToInt(v.text, target, out, err);
        case Value::Kind::DateTime: {
            // Days, rounded at noon.
            out = v.datetime.days + (v.datetime.ticks >= kTicksPerDay / 2 ? 1 : 0);
            return CheckIntRange(out, target, err);
        }
        case Value::Kind::Null:
            out = 0;
            return true;
    }
    return true;
}

bool ToDateTime(const Value& v, DateTimeValue& out, SqlError& err) {
    switch (v.kind) {
        case Value::Kind::DateTime:
            out = v.datetime;
            return true;
        case Value::Kind::Text:
            return TextToDateTime(v.text, 0, out, err);
        case Value::Kind::Int:
            if (v.integer < kMinDays || v.integer > kMaxDays) {
                err = StatementError(msg::ArithmeticOverflow("expression", "datetime"));
                return false;
            }
            out = DateTimeValue{static_cast<std::int32_t>(v.integer), 0};
            return true;
        case Value::Kind::Null:
            out = DateTimeValue{};
            return true;
    }
    return true;
}

std::string ToText(const Value& v) {
    switch (v.kind) {
        case Value::Kind::Text:
            return v.text;
        case Value::Kind::Int:
            return std::to_string(v.integer);
        case Value::Kind::DateTime:
            return FormatDateTime(v.datetime, 0);
        case Value::Kind::Null:
            return std::string();
    }
    return std::string();
}

bool CompareValues(const Value& a, const Value& b, int& result, SqlError& err) {
    if (a.kind == Value::Kind::DateTime || b.kind == Value::Kind::DateTime) {
        DateTimeValue x, y;
        if (!ToDateTime(a, x, err) || !ToDateTime(b, y, err)) return false;
        const std::int64_t kx = DateTimeKey(x), ky = DateTimeKey(y);
        result = kx < ky ? -1 : (kx > ky ? 1 : 0);
        return true;
    }
    if (a.kind == Value::Kind::Int || b.kind == Value::Kind::Int) {
        std::int64_t x = 0, y = 0;
        if (!ToInt(a, SqlType::Int, x, err) || !ToInt(b, SqlType::Int, y, err)) return false;
        result = x < y ? -1 : (x > y ? 1 : 0);
        return true;
    }
    result = CompareText(a.text, b.text);
    return true;
}

bool ConvertExplicit(const Value& v, const TypeSpec& to, int style, Value& out, SqlError& err) {
    if (v.kind == Value::Kind::Null) {
        out = Value::Null();
        return true;
    }
    switch (to.type) {
        case SqlType::Int:
        case SqlType::SmallInt: {
            std::int64_t n = 0;
            if (!ToInt(v, to.type, n, err)) return false;
            out = Value::Int(n);
            return true;
        }
        case SqlType::DateTime: {
            DateTimeValue d;
            if (v.kind == Value::Kind::Text) {
                if (!IsInputStyle(style)) {
                    err = StatementError(msg::InvalidStyle(style, false));
                    return false;
                }
                if (!TextToDateTime(v.text, style, d, err)) return false;
            } else if (!ToDateTime(v, d, err)) {
                return false;
            }
            out = Value::Date(d);
            return true;
        }
        case SqlType::Char:
        case SqlType::VarChar: {
            std::string text;
            if (v.kind == Value::Kind::DateTime) {
                if (!IsOutputStyle(style)) {
                    err = StatementError(msg::InvalidStyle(style, true));
                    return false;
                }
                text = FormatDateTime(v.datetime, style);
            } else if (v.kind == Value::Kind::Int) {
                text = std::to_string(v.integer);
                if (text.size() > to.length) text = "*";
            } else {
                text = v.text;
            }
            PadOrCut(text, to.type, to.length);
            out = Value::Text(std::move(text));
            return true;
        }
    }
    return true;
}

bool ConvertImplicit(const Value& v, const StaticType& to, Value& out, SqlError& err) {
    if (v.kind == Value::Kind::Null) {
        out = Value::Null();
        return true;
    }
    switch (to.type) {
        case SqlType::Int:
        case SqlType::SmallInt: {
            std::int64_t n = 0;
            if (!ToInt(v, to.type, n, err)) return false;
            out = Value::Int(n);
            return true;
        }
        case SqlType::DateTime: {
            DateTimeValue d;
            if (!ToDateTime(v, d, err)) return false;
            out = Value::Date(d);
            return true;
        }
        case SqlType::Char:
        case SqlType::VarChar: {
            std::string text = ToText(v);
            PadOrCut(text, to.type, to.length);
            out = Value::Text(std::move(text));
            return true;
        }
    }
    return true;
}

bool ConvertForStore(const Value& v, const ColumnDef& column, Value& out, SqlError& err) {
    if (v.kind == Value::Kind::Null) {
        out = Value::Null();
        return true;
    }
    switch (column.type) {
        case SqlType::Int:
        case SqlType::SmallInt: {
            if (v.kind == Value::Kind::DateTime) {
                err = StatementError(msg::ImplicitConversion("datetime", TypeWord(column.type)));
                return false;
            }
            std::int64_t n = 0;
            if (!ToInt(v, column.type, n, err)) return false;
            out = Value::Int(n);
            return true;
        }
        case SqlType::DateTime: {
            DateTimeValue d;
            if (!ToDateTime(v, d, err)) return false;
            out = Value::Date(d);
            return true;
        }
        case SqlType::Char:
        case SqlType::VarChar: {
            std::string text = ToText(v);
            if (text.size() > column.length) {
                if (v.kind == Value::Kind::Int) {
                    err = StatementError(msg::ArithmeticOverflow("int", TypeWord(column.type)));
                    return false;
                }
                // Only trailing blanks may be cut silently.
                for (std::size_t i = column.length; i < text.size(); ++i) {
                    if (text[i] != ' ') {
                        err = StatementError(msg::Truncated());
                        return false;
                    }
                }
            }
            PadOrCut(text, column.type, column.length);
            out = Value::Text(std::move(text));
            return true;
        }
    }
    return true;
}

}  // namespace tdslite::detail
