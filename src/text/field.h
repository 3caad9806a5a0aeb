// Fixed-width character fields.
//
// Every record of the converter is a sequence of fixed-size, zero-terminated character fields.
// Field<N> is one of them: N bytes of storage, N counting the terminator, so a Field<9> holds at
// most 8 characters.  Nothing here writes past the N bytes, and view() never reads past them.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace snp {

template <std::size_t N>
struct Field {
    static_assert(N >= 1, "a field needs room for its terminator");
    static constexpr std::size_t size = N;          // bytes, terminator included
    static constexpr std::size_t capacity = N - 1;  // characters

    std::array<char, N> bytes{};  // zero-filled, like every record before its fields are set

    char* data() { return bytes.data(); }
    const char* data() const { return bytes.data(); }

    /// The text up to the first zero byte, never beyond the N bytes of the field.
    std::string_view view() const { return {bytes.data(), ::strnlen(bytes.data(), N)}; }
    std::size_t length() const { return ::strnlen(bytes.data(), N); }
    bool empty() const { return bytes[0] == '\0'; }

    /// Fills the whole field with zero bytes.
    void clear() { bytes.fill('\0'); }

    /// Copies s (at most N-1 characters) and terminates it.  The bytes after the terminator stay
    /// as they were, as with strcpy into the field.  Returns false when s did not fit and was cut.
    bool assign(std::string_view s) {
        const std::size_t n = std::min(s.size(), capacity);
        std::copy_n(s.begin(), n, bytes.begin());
        bytes[n] = '\0';
        return n == s.size();
    }

    /// Sets the field to n copies of c (n is limited to the capacity).
    void fill_text(std::size_t n, char c) {
        n = std::min(n, capacity);
        std::fill_n(bytes.begin(), n, c);
        bytes[n] = '\0';
    }

    friend bool operator==(const Field& a, std::string_view b) { return a.view() == b; }
};

}  // namespace snp
