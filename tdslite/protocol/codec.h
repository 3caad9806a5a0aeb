// Conversion between the engine's single-byte texts (code page 1252) and the UCS-2LE texts of the
// wire.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/wire.h"

namespace tdslite::protocol {

/// The UTF-16 code unit of a cp1252 byte.  The five bytes cp1252 leaves undefined (0x81, 0x8D,
/// 0x8F, 0x90, 0x9D) map to the control characters of the same value, as Windows maps them.
std::uint16_t Cp1252ToUnicode(std::uint8_t byte);

/// The cp1252 byte of a Unicode character, or '?' when cp1252 has no such character.
std::uint8_t UnicodeToCp1252(std::uint32_t code_point);

/// UCS-2LE (UTF-16LE) bytes to cp1252.  A surrogate pair is one character and becomes one '?', as
/// does an unpaired surrogate.  An odd trailing byte is ignored; callers check the length.
std::string Ucs2ToCp1252(ByteSpan ucs2);

}  // namespace tdslite::protocol
