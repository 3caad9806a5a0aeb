// String helpers used by every part of the converter: trimming, upper-casing, cutting fields out
// of lines and finding separators.  They work on zero-terminated single-byte texts (every byte is
// one character; bytes 0x80..0xFF are ordinary characters), keep no state and never allocate.
//
// The buffers are passed as spans so that no helper can read or write outside them: a text whose
// terminator is missing is treated as ending at the end of its buffer.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "text/field.h"

namespace snp {

/// Removes trailing white space in place: exactly blank, tab and line feed (a carriage return is
/// text).  Leading white space stays.  Returns the buffer.
char* TrimRight(std::span<char> text);
template <std::size_t N>
Field<N>& TrimRight(Field<N>& f) {
    TrimRight(std::span<char>(f.bytes));
    return f;
}

/// Converts a..z to A..Z in place; every other byte, 0x80..0xFF included, stays unchanged.
char* UpperCase(std::span<char> text);
template <std::size_t N>
Field<N>& UpperCase(Field<N>& f) {
    UpperCase(std::span<char>(f.bytes));
    return f;
}

/// Copies a run of characters of source into destination and terminates it.
///  - length > 0: exactly `length` bytes from source[start], a terminator inside included;
///  - length == 0: from source[start] to the end of the text, terminator included
///    (start == strlen(source) gives the empty text);
///  - length < 0: nothing is written, not even a terminator.
/// Bytes are copied one by one from first to last, so destination may be the source itself or lie
/// before it in the same buffer.  Returns false, and writes nothing, when the copy would read
/// outside source or write outside destination (start beyond the text, length beyond the buffer).
bool CopySubstring(std::span<const char> source, int start, int length,
                   std::span<char> destination);

/// Position of the n-th occurrence (n counts from 1) of c in text; when there are fewer than n,
/// the position of the last occurrence; -1 when there is none or the text is empty.
int FindNthChar(std::string_view text, char c, int n);

/// The text held in a buffer: up to its first zero byte, never past the end of the buffer.
inline std::string_view TextOf(std::span<const char> buffer) {
    std::size_t n = 0;
    while (n < buffer.size() && buffer[n] != '\0') ++n;
    return {buffer.data(), n};
}

}  // namespace snp
