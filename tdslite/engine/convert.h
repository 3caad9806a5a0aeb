// Conversions between the value kinds with the server's rules and errors: explicit (CONVERT),
// implicit (comparisons, arithmetic, function arguments) and for storing into a column.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/ast.h"
#include "engine/engine.h"
#include "engine/storage.h"

namespace tdslite::detail {

/// An error raised while running a statement.  Conversion errors end the whole batch; the others
/// end only the statement.
struct SqlError {
    Message message;
    bool aborts_batch = false;
};

const char* TypeWord(SqlType t);
inline bool IsTextType(SqlType t) {
    return t == SqlType::Char || t == SqlType::VarChar;
}
inline bool IsIntType(SqlType t) {
    return t == SqlType::Int || t == SqlType::SmallInt;
}

/// Range check of an integer result of the given type (8115 for int, 220 for smallint).
bool CheckIntRange(std::int64_t v, SqlType type, SqlError& err);

/// Text to int/smallint: blanks around, an optional sign, digits; '' and blanks give 0.
bool TextToInt(std::string_view text, SqlType target, std::int64_t& out, SqlError& err);
/// Text to datetime in a style (0: no style); 241/242.
bool TextToDateTime(std::string_view text, int style, DateTimeValue& out, SqlError& err);

/// Implicit conversions of a non-NULL value.
bool ToInt(const Value& v, SqlType target, std::int64_t& out, SqlError& err);
bool ToDateTime(const Value& v, DateTimeValue& out, SqlError& err);
/// The text form of a value where a string is expected (int as decimal digits, datetime in the
/// default style).
std::string ToText(const Value& v);

/// Three-way comparison of two non-NULL values after converting to the type of higher
/// precedence (datetime > int > text).
bool CompareValues(const Value& a, const Value& b, int& result, SqlError& err);

/// CONVERT(to, v, style).  NULL stays NULL.
bool ConvertExplicit(const Value& v, const TypeSpec& to, int style, Value& out, SqlError& err);

/// Converts v to the type of a value computed for a result type (COALESCE, ISNULL):
/// like an implicit conversion, text cut to the length and char padded.
bool ConvertImplicit(const Value& v, const StaticType& to, Value& out, SqlError& err);

/// The value stored for v in a column: char padded, too long text refused with 8152 unless only
/// blanks are cut; NULL checks are the caller's.
bool ConvertForStore(const Value& v, const ColumnDef& column, Value& out, SqlError& err);

}  // namespace tdslite::detail
