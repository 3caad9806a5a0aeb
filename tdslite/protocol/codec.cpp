#include "protocol/codec.h"

#include <array>

namespace tdslite::protocol {
namespace {

// Unicode of the cp1252 bytes 0x80..0x9F; the undefined ones keep their own value.
constexpr std::array<std::uint16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

}  // namespace

std::uint16_t Cp1252ToUnicode(std::uint8_t byte) {
    if (byte >= 0x80 && byte <= 0x9F) return kHigh[byte - 0x80];
    return byte;
}

std::uint8_t UnicodeToCp1252(std::uint32_t code_point) {
    if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF))
        return static_cast<std::uint8_t>(code_point);
    for (std::size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == code_point) return static_cast<std::uint8_t>(0x80 + i);
    }
    return '?';
}

std::string Ucs2ToCp1252(ByteSpan ucs2) {
    std::string out;
    out.reserve(ucs2.size() / 2);
    for (std::size_t i = 0; i + 1 < ucs2.size(); i += 2) {
        const std::uint32_t unit = ucs2[i] | (ucs2[i + 1] << 8);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < ucs2.size()) {
            const std::uint32_t next = ucs2[i + 2] | (ucs2[i + 3] << 8);
            if (next >= 0xDC00 && next <= 0xDFFF) i += 2;  // the pair is one character
        }
        out.push_back(static_cast<char>(UnicodeToCp1252(unit)));
    }
    return out;
}

}  // namespace tdslite::protocol
