// datetime arithmetic, parsing and formatting with the server's rules: days since 1900-01-01 and
// 1/300-second ticks, range 1753-01-01..9999-12-31, two-digit years with the cutoff 2049, lenient
// numeric input whose part order a style fixes, and the output styles of CONVERT.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/engine.h"

namespace tdslite::detail {

constexpr std::uint32_t kTicksPerDay = 300u * 86400u;
constexpr std::int32_t kMinDays = -53690;   // 1753-01-01
constexpr std::int32_t kMaxDays = 2958463;  // 9999-12-31

/// Days since 1900-01-01 of a proleptic Gregorian date (no range check).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);
/// The calendar date of a day number.
void CivilFromDays(std::int64_t days, int& year, int& month, int& day);

/// A single number that orders datetimes chronologically (the SQLite storage form).
inline std::int64_t DateTimeKey(DateTimeValue v) {
    return static_cast<std::int64_t>(v.days) * kTicksPerDay + v.ticks;
}
DateTimeValue DateTimeFromKey(std::int64_t key);

enum class DateParse : std::uint8_t { Ok, Syntax /* 241 */, OutOfRange /* 242 */ };

/// True when `style` is accepted for text -> datetime.
bool IsInputStyle(int style);
/// Reads text as the server does for CONVERT(datetime, text, style); style 0 means no style
/// (month-day-year order, the us_english default).  The caller checks the style first.
DateParse ParseDateTime(std::string_view text, int style, DateTimeValue& out);

/// True when `style` is accepted for datetime -> text.
bool IsOutputStyle(int style);
/// The text of a datetime in a style (0 is the default "Feb  1 2003 12:00AM").
std::string FormatDateTime(DateTimeValue v, int style);

}  // namespace tdslite::detail
