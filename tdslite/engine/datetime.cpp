#include "engine/datetime.h"

#include <array>
#include <cstdio>
#include <vector>

namespace tdslite::detail {
namespace {

constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 12> kLongMonthNames = {
    "JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
    "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};

enum class Order : std::uint8_t { Mdy, Dmy, Ymd };

Order OrderOfStyle(int style) {
    switch (style % 100) {
        case 3:
        case 4:
        case 5:
        case 6:
        case 13:
            return Order::Dmy;
        case 2:
        case 11:
        case 12:
        case 20:
        case 21:
        case 23:
        case 26:
        case 27:
            return Order::Ymd;
        default:
            return Order::Mdy;
    }
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2) {
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        return leap ? 29 : 28;
    }
    return kDays[static_cast<std::size_t>(month - 1)];
}

// A run of digits read as a number; `digits` is its length.
struct Part {
    int value = 0;
    int digits = 0;
};

bool ReadNumber(std::string_view s, std::size_t& pos, Part& part) {
    const std::size_t start = pos;
    long long v = 0;
    while (pos < s.size() && IsDigit(s[pos])) {
        if (pos - start < 9) v = v * 10 + (s[pos] - '0');
        ++pos;
    }
    if (pos == start) return false;
    part.digits = static_cast<int>(pos - start);
    part.value = part.digits > 9 ? 999999999 : static_cast<int>(v);
    return true;
}

int ExpandYear(const Part& year) {
    if (year.digits <= 2) return year.value <= 49 ? 2000 + year.value : 1900 + year.value;
    return year.value;
}

DateParse MakeDate(int year, int month, int day, std::int32_t& days) {
    if (year < 1753 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month)) {
        return DateParse::OutOfRange;
    }
    days = static_cast<std::int32_t>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)));
    return DateParse::Ok;
}

int MonthFromWord(std::string_view word) {
    std::string up;
    for (char c : word) up.push_back(Upper(c));
    for (std::size_t i = 0; i < 12; ++i) {
        const std::string_view full = kLongMonthNames[i];
        if (up == full || (up.size() == 3 && full.substr(0, 3) == up))
            return static_cast<int>(i) + 1;
    }
    return 0;
}

// The time of day: h[:m[:s[.fff|:fff]]] [AM|PM].  Out of range parts are syntax errors, as for
// the server.
DateParse ParseTime(std::string_view s, std::uint32_t& ticks) {
    std::size_t pos = 0;
    Part h, m, sec;
    int millis = 0;
    if (!ReadNumber(s, pos, h) || h.digits > 2) return DateParse::Syntax;
    if (pos < s.size() && s[pos] == ':') {
        ++pos;
        if (!ReadNumber(s, pos, m) || m.digits > 2) return DateParse::Syntax;
        if (pos < s.size() && s[pos] == ':') {
            ++pos;
            if (!ReadNumber(s, pos, sec) || sec.digits > 2) return DateParse::Syntax;
            if (pos < s.size() && (s[pos] == '.' || s[pos] == ':')) {
                const bool decimal = s[pos] == '.';
                ++pos;
                Part frac;
                if (!ReadNumber(s, pos, frac) || frac.digits > 3) return DateParse::Syntax;
                millis = frac.value;
                if (decimal) {
                    for (int d = frac.digits; d < 3; ++d) millis *= 10;
                }
            }
        }
    }
    while (pos < s.size() && IsSpace(s[pos])) ++pos;
    int hour = h.value;
    if (pos < s.size()) {
        const std::string_view rest = s.substr(pos);
        if (rest.size() != 2 || Upper(rest[1]) != 'M' ||
            (Upper(rest[0]) != 'A' && Upper(rest[0]) != 'P')) {
            return DateParse::Syntax;
        }
        if (hour > 12) return DateParse::Syntax;
        if (Upper(rest[0]) == 'A' && hour == 12) hour = 0;
        if (Upper(rest[0]) == 'P' && hour < 12) hour += 12;
    }
    if (hour > 23 || m.value > 59 || sec.value > 59) return DateParse::Syntax;
    ticks = static_cast<std::uint32_t>(((hour * 60 + m.value) * 60 + sec.value) * 300) +
            static_cast<std::uint32_t>((millis * 3 + 5) / 10);
    return DateParse::Ok;
}

DateParse ParseDatePart(std::string_view s, Order order, bool iso_t, std::int32_t& days) {
    if (s.empty()) {
        days = 0;
        return DateParse::Ok;
    }
    bool all_digits = true;
    bool has_alpha = false;
    for (char c : s) {
        all_digits = all_digits && IsDigit(c);
        has_alpha = has_alpha || IsAlpha(c);
    }
    if (all_digits) {
        auto num = [&s](std::size_t from, std::size_t n) {
            int v = 0;
            for (std::size_t i = from; i < from + n; ++i) v = v * 10 + (s[i] - '0');
            return v;
        };
        if (s.size() == 8) return MakeDate(num(0, 4), num(4, 2), num(6, 2), days);
        if (s.size() == 6) return MakeDate(ExpandYear({num(0, 2), 2}), num(2, 2), num(4, 2), days);
        if (s.size() == 4) return MakeDate(num(0, 4), 1, 1, days);
        return DateParse::Syntax;
    }
    if (has_alpha) {
        // Month names: "Feb 1 2003", "1 Feb 2003", "Feb 1, 2003".
        std::vector<Part> numbers;
        int month = 0;
        std::size_t pos = 0;
        while (pos < s.size()) {
            const char c = s[pos];
            if (IsDigit(c)) {
                Part p;
                ReadNumber(s, pos, p);
                numbers.push_back(p);
            } else if (IsAlpha(c)) {
                const std::size_t start = pos;
                while (pos < s.size() && IsAlpha(s[pos])) ++pos;
                if (month != 0) return DateParse::Syntax;
                month = MonthFromWord(s.substr(start, pos - start));
                if (month == 0) return DateParse::Syntax;
            } else if (IsSpace(c) || c == ',' || c == '-' || c == '/' || c == '.') {
                ++pos;
            } else {
                return DateParse::Syntax;
            }
        }
        if (month == 0 || numbers.size() != 2) return DateParse::Syntax;
        Part day = numbers[0];
        Part year = numbers[1];
        if (day.digits == 4 && year.digits != 4) std::swap(day, year);
        if (day.digits > 2 || (year.digits != 4 && year.digits > 2)) return DateParse::Syntax;
        return MakeDate(ExpandYear(year), month, day.value, days);
    }
    // Numeric: three parts separated by '.', '/' or '-'.
    std::array<Part, 3> parts{};
    std::size_t pos = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (!ReadNumber(s, pos, parts[i])) return DateParse::Syntax;
        if (parts[i].digits > 4 || parts[i].digits == 3) return DateParse::Syntax;
        if (i < 2) {
            if (pos >= s.size() || (s[pos] != '.' && s[pos] != '/' && s[pos] != '-')) {
                return DateParse::Syntax;
            }
            ++pos;
        }
    }
    if (pos != s.size()) return DateParse::Syntax;
    int year = 0, month = 0, day = 0;
    if (parts[0].digits == 4) {
        // A leading four-digit year; the other two parts keep the style's day/month order.
        year = parts[0].value;
        if (order == Order::Dmy && !iso_t) {
            day = parts[1].value;
            month = parts[2].value;
        } else {
            month = parts[1].value;
            day = parts[2].value;
        }
        if (parts[1].digits == 4 || parts[2].digits == 4) return DateParse::Syntax;
    } else if (parts[1].digits == 4) {
        if (parts[2].digits == 4) return DateParse::Syntax;
        year = parts[1].value;
        if (order == Order::Dmy) {
            day = parts[0].value;
            month = parts[2].value;
        } else {
            month = parts[0].value;
            day = parts[2].value;
        }
    } else if (parts[2].digits == 4) {
        year = parts[2].value;
        if (order == Order::Dmy) {
            day = parts[0].value;
            month = parts[1].value;
        } else {
            month = parts[0].value;
            day = parts[1].value;
        }
    } else {
        switch (order) {
            case Order::Dmy:
                day = parts[0].value;
                month = parts[1].value;
                year = ExpandYear(parts[2]);
                break;
            case Order::Mdy:
                month = parts[0].value;
                day = parts[1].value;
                year = ExpandYear(parts[2]);
                break;
            case Order::Ymd:
                year = ExpandYear(parts[0]);
                month = parts[1].value;
                day = parts[2].value;
                break;
        }
    }
    return MakeDate(year, month, day, days);
}

void Append2(std::string& out, int v) {
    out.push_back(static_cast<char>('0' + (v / 10) % 10));
    out.push_back(static_cast<char>('0' + v % 10));
}

void Append4(std::string& out, int v) {
    Append2(out, v / 100);
    Append2(out, v % 100);
}

}  // namespace

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    // 693901 is the day number of 1900-01-01 counted from 0000-03-01.
    return era * 146097 + static_cast<std::int64_t>(doe) - 693901;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 693901;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(y + (m <= 2 ? 1 : 0));
    month = static_cast<int>(m);
    day = static_cast<int>(d);
}

DateTimeValue DateTimeFromKey(std::int64_t key) {
    std::int64_t days = key / kTicksPerDay;
    std::int64_t ticks = key % kTicksPerDay;
    if (ticks < 0) {
        ticks += kTicksPerDay;
        days -= 1;
    }
    return DateTimeValue{static_cast<std::int32_t>(days), static_cast<std::uint32_t>(ticks)};
}

bool IsInputStyle(int style) {
    if (style >= 0 && style <= 14) return true;
    if (style >= 20 && style <= 23) return true;
    if (style >= 100 && style <= 114) return true;
    return style == 120 || style == 121 || style == 126 || style == 127;
}

DateParse ParseDateTime(std::string_view text, int style, DateTimeValue& out) {
    std::string_view s = Trim(text);
    std::string_view date_part = s;
    std::string_view time_part;
    const std::size_t colon = s.find(':');
    if (colon != std::string_view::npos) {
        std::size_t start = colon;
        while (start > 0 && IsDigit(s[start - 1])) --start;
        date_part = s.substr(0, start);
        time_part = s.substr(start);
    } else {
        // "10AM" or "10 PM" without minutes.
        const std::string_view t = s;
        if (t.size() >= 2 && Upper(t.back()) == 'M' &&
            (Upper(t[t.size() - 2]) == 'A' || Upper(t[t.size() - 2]) == 'P')) {
            std::size_t start = t.size() - 2;
            while (start > 0 && IsSpace(t[start - 1])) --start;
            std::size_t digits = start;
            while (digits > 0 && IsDigit(t[digits - 1])) --digits;
            if (digits < start) {
                date_part = s.substr(0, digits);
                time_part = s.substr(digits);
            }
        }
    }
    bool iso_t = false;
    date_part = Trim(date_part);
    if (!date_part.empty() && (date_part.back() == 'T' || date_part.back() == 't') &&
        !time_part.empty()) {
        date_part.remove_suffix(1);
        iso_t = true;
        if (date_part.empty() || !IsDigit(date_part.back())) return DateParse::Syntax;
    }
    std::int32_t days = 0;
    std::uint32_t ticks = 0;
    const DateParse d = ParseDatePart(date_part, OrderOfStyle(style), iso_t, days);
    if (d != DateParse::Ok) return d;
    if (!time_part.empty()) {
        const DateParse t = ParseTime(time_part, ticks);
        if (t != DateParse::Ok) return t;
    }
    if (ticks >= kTicksPerDay) {
        ticks -= kTicksPerDay;
        if (days >= kMaxDays) return DateParse::OutOfRange;
        ++days;
    }
    out = DateTimeValue{days, ticks};
    return DateParse::Ok;
}

bool IsOutputStyle(int style) {
    switch (style) {
        case 0:
        case 100:
        case 1:
        case 101:
        case 2:
        case 102:
        case 3:
        case 103:
        case 4:
        case 104:
        case 5:
        case 105:
        case 8:
        case 108:
        case 9:
        case 109:
        case 10:
        case 110:
        case 11:
        case 111:
        case 12:
        case 112:
        case 20:
        case 120:
        case 21:
        case 121:
        case 23:
        case 126:
            return true;
        default:
            return false;
    }
}

std::string FormatDateTime(DateTimeValue v, int style) {
    int year = 0, month = 0, day = 0;
    CivilFromDays(v.days, year, month, day);
    const std::uint32_t total_seconds = v.ticks / 300;
    const int hour = static_cast<int>(total_seconds / 3600);
    const int minute = static_cast<int>((total_seconds / 60) % 60);
    const int second = static_cast<int>(total_seconds % 60);
    const int millis = static_cast<int>(((v.ticks % 300) * 10 + 1) / 3);
    const bool century = style >= 100;
    std::string out;
    auto year_text = [&](std::string& o) {
        if (century) {
            Append4(o, year);
        } else {
            Append2(o, year % 100);
        }
    };
    auto dmy = [&](char sep) {
        Append2(out, day);
        out.push_back(sep);
        Append2(out, month);
        out.push_back(sep);
        year_text(out);
    };
    auto mdy = [&](char sep) {
        Append2(out, month);
        out.push_back(sep);
        Append2(out, day);
        out.push_back(sep);
        year_text(out);
    };
    auto ymd = [&](char sep) {
        year_text(out);
        out.push_back(sep);
        Append2(out, month);
        out.push_back(sep);
        Append2(out, day);
    };
    auto hms = [&]() {
        Append2(out, hour);
        out.push_back(':');
        Append2(out, minute);
        out.push_back(':');
        Append2(out, second);
    };
    auto mon_dd_yyyy = [&]() {
        out += kMonthNames[static_cast<std::size_t>(month - 1)];
        out.push_back(' ');
        out.push_back(day < 10 ? ' ' : static_cast<char>('0' + day / 10));
        out.push_back(static_cast<char>('0' + day % 10));
        out.push_back(' ');
        Append4(out, year);
        out.push_back(' ');
    };
    auto hour12 = [&]() {
        const int h = hour % 12 == 0 ? 12 : hour % 12;
        out.push_back(h < 10 ? ' ' : '1');
        out.push_back(static_cast<char>('0' + h % 10));
    };
    switch (style) {
        case 0:
        case 100:
            mon_dd_yyyy();
            hour12();
            out.push_back(':');
            Append2(out, minute);
            out += hour < 12 ? "AM" : "PM";
            break;
        case 9:
        case 109: {
            mon_dd_yyyy();
            hour12();
            out.push_back(':');
            Append2(out, minute);
            out.push_back(':');
            Append2(out, second);
            out.push_back(':');
            char ms[4];
            std::snprintf(ms, sizeof ms, "%03d", millis);
            out += ms;
            out += hour < 12 ? "AM" : "PM";
            break;
        }
        case 1:
        case 101:
            mdy('/');
            break;
        case 2:
        case 102:
            ymd('.');
            break;
        case 3:
        case 103:
            dmy('/');
            break;
        case 4:
        case 104:
            dmy('.');
            break;
        case 5:
        case 105:
            dmy('-');
            break;
        case 10:
        case 110:
            mdy('-');
            break;
        case 11:
        case 111:
            ymd('/');
            break;
        case 12:
        case 112:
            year_text(out);
            Append2(out, month);
            Append2(out, day);
            break;
        case 8:
        case 108:
            hms();
            break;
        case 20:
        case 120:
        case 21:
        case 121:
        case 126:
            Append4(out, year);
            out.push_back('-');
            Append2(out, month);
            out.push_back('-');
            Append2(out, day);
            out.push_back(style == 126 ? 'T' : ' ');
            hms();
            if (style != 20 && style != 120) {
                char ms[5];
                std::snprintf(ms, sizeof ms, ".%03d", millis);
                out += ms;
            }
            break;
        case 23:
            Append4(out, year);
            out.push_back('-');
            Append2(out, month);
            out.push_back('-');
            Append2(out, day);
            break;
        default:
            break;
    }
    return out;
}

}  // namespace tdslite::detail
