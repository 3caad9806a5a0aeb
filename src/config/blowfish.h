// The Blowfish block cipher as the configuration values use it: ECB, one 8-byte block at a time,
// the two 32-bit halves of a block taken little-endian from its bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace snp::blowfish {

/// P-array and S-boxes, 1042 words.  Holds key material: Wipe() it when done.
struct CipherState {
    std::array<std::uint32_t, 18> p;
    std::array<std::array<std::uint32_t, 256>, 4> s;

    /// Fills the state from the initial tables and `key` (all its bytes; an empty key leaves the
    /// P-array as the tables give it before the encryption rounds of the schedule).
    void Schedule(std::string_view key);
    void EncryptBlock(std::uint32_t& left, std::uint32_t& right) const;
    void DecryptBlock(std::uint32_t& left, std::uint32_t& right) const;
    /// Sets every word to zero in a way the compiler may not drop.
    void Wipe();
};
static_assert(sizeof(CipherState) == 4168);

/// Word of bytes[0..3] with bytes[0] as the least significant byte.
inline std::uint32_t LoadLittleEndian(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}
inline void StoreLittleEndian(std::uint32_t word, unsigned char* bytes) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(word >> (8 * i));
}

/// Decodes 16 characters into 8 bytes.  Only '0'..'9' and 'A'..'F' give their hexadecimal value;
/// any other character gives some other digit value, without an error, exactly as the files
/// have always been read (a lower-case digit does not decode to the same byte).
void DecodeHexGroup(const char* digits, unsigned char* bytes);

}  // namespace snp::blowfish
