// Character rules of the server's default collation for single-byte (code page 1252) texts:
// case-insensitive, accent-sensitive, trailing blanks ignored.  Used for comparisons of values,
// for the SQLite collation behind every text column and index, and for identifiers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tdslite::detail {

/// The upper-case form of a code page 1252 byte (a..z, the accented lower-case letters, s/z/oe
/// with caron, y with diaeresis); every other byte maps to itself.
unsigned char FoldCase(unsigned char c);

/// Three-way comparison as the collation does it: the shorter text counts as padded with blanks,
/// letters compare without regard to case, and accents only break ties between otherwise equal
/// texts (so e < é < f).  Returns <0, 0 or >0.
int CompareText(std::string_view a, std::string_view b);

/// The key under which an identifier is looked up: folded to upper case (not accent-stripped).
std::string IdentifierKey(std::string_view name);

/// The text without its trailing blanks (only 0x20 counts).
std::string_view TrimTrailingBlanks(std::string_view text);

/// True when c may start an identifier (letters of code page 1252, '_', '@', '#').
bool IsIdentifierStart(unsigned char c);
/// True when c may continue an identifier (the start bytes, digits and '$').
bool IsIdentifierPart(unsigned char c);

}  // namespace tdslite::detail
