// String helpers over zero-terminated single-byte texts held in bounded buffers.
#include "text/text.h"

#include <cstddef>
#include <span>
#include <string_view>

namespace snp {

namespace {

// Length of the text in a buffer: up to its first zero byte, or the whole buffer without one.
std::size_t TextLength(std::span<const char> buffer) {
    return TextOf(buffer).size();
}

bool IsTrimmedSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

}  // namespace

char* TrimRight(std::span<char> text) {
    std::size_t end = TextLength(text);
    if (end == 0) return text.data();
    const std::size_t original_end = end;
    while (end > 0 && IsTrimmedSpace(text[end - 1])) --end;
    // Writing the terminator at `end` stays inside the buffer: end < original_end <= size.
    if (end < original_end) text[end] = '\0';
    return text.data();
}

char* UpperCase(std::span<char> text) {
    // Only a..z: the conversion of the C library's default locale, which the program never changes.
    for (std::size_t i = TextLength(text); i > 0; --i) {
        char& c = text[i - 1];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text.data();
}

bool CopySubstring(std::span<const char> source, int start, int length,
                   std::span<char> destination) {
    if (length < 0) return true;  // nothing is written, not even a terminator
    if (start < 0) return false;
    const auto from = static_cast<std::size_t>(start);

    std::size_t count = 0;  // characters to copy; a terminator follows them
    if (length > 0) {
        count = static_cast<std::size_t>(length);
        if (from > source.size() || count > source.size() - from) return false;
    } else {
        // Length 0 means to the end of the text, never nothing.
        const std::size_t text_length = TextLength(source);
        if (from > text_length) return false;
        count = text_length - from;
    }
    if (count >= destination.size()) return false;  // no room for the terminator

    // One byte at a time from first to last, so the destination may be the source itself or lie
    // before it in the same buffer.
    for (std::size_t i = 0; i < count; ++i) destination[i] = source[from + i];
    destination[count] = '\0';
    return true;
}

int FindNthChar(std::string_view text, char c, int n) {
    int count = 0;
    int last = -1;
    for (std::size_t i = 0; i < text.size() && text[i] != '\0'; ++i) {
        if (text[i] != c) continue;
        last = static_cast<int>(i);
        if (++count == n) return last;
    }
    // Fewer than n: the last one found, which makes a single separator serve as both the first
    // and the second.
    return last;
}

}  // namespace snp
