// Configuration: lookup of values in the encrypted configuration file and their decryption.
//
// The file is a sequence of two-line entries with ';'-separated fields; every value is upper-case
// hexadecimal Blowfish ciphertext (ECB, little-endian words) under the built-in key.  Nothing here
// prints or reports: a missing file or entry gives the empty value.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "text/field.h"

namespace snp {

/// The key every configuration value is encrypted with.
inline constexpr std::string_view kConfigKey = "DRAVONI";

/// Working storage of a lookup; emptied at the start of each call, holds the last result after it.
struct ConfigLookup {
    std::int32_t number = 0;
    Field<201> section;
    Field<201> key;
    Field<201> value;  // after a match: the decrypted plain text, the lookup's result
};

/// Scans the file at `path` for the first entry whose section field equals `section`, or whose key
/// field equals `key`, or whose number equals `number`, and leaves its decrypted value in
/// storage.value (empty when the file cannot be opened or nothing matches).
void ReadConfigValue(ConfigLookup& storage, std::string_view section, std::string_view key,
                     std::int32_t number, const char* path);

/// Decrypts the hexadecimal text `encrypted` with `key` into `destination`, which must hold
/// 8 bytes per started group of 16 digits plus one; the plain text ends at its first zero byte.
/// Always 1.
int DecryptConfigValue(std::string_view encrypted, std::span<char> destination,
                       std::string_view key);

/// Encrypts `plain` with `key` the same way (zero bytes pad the last block; a text whose length is
/// a multiple of 8 gets no block of its own for the terminator) and returns the upper-case hex.
std::string EncryptConfigValue(std::string_view plain, std::string_view key);

}  // namespace snp
