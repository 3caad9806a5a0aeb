// The cipher of the configuration values: the published Blowfish vectors brought to the
// little-endian word order of the files, the hexadecimal form and the round trip.
#include "config/blowfish.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/config.h"
#include "text/text.h"

namespace snp {
namespace {

std::string FromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

// The published vectors use big-endian halves.  The same block in the files' order: the bytes of
// each four-byte half reversed.
std::string SwapHalves(std::string_view hex16) {
    std::string out;
    for (int half = 0; half < 2; ++half) {
        for (int b = 3; b >= 0; --b) out.append(hex16.substr(half * 8 + b * 2, 2));
    }
    return out;
}

struct Vector {
    std::string_view key, plain, cipher;  // hexadecimal, as published (big-endian halves)
};
constexpr Vector kPublishedVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
};

TEST(Blowfish, PublishedVectorsInTheFilesWordOrder) {
    for (const auto& v : kPublishedVectors) {
        SCOPED_TRACE(std::string(v.key) + " " + std::string(v.plain));
        const std::string key = FromHex(v.key);
        const std::string plain = FromHex(SwapHalves(v.plain));
        const std::string cipher_hex = SwapHalves(v.cipher);

        EXPECT_EQ(EncryptConfigValue(plain, key), cipher_hex);

        std::array<char, 9> out;
        out.fill('x');
        EXPECT_EQ(DecryptConfigValue(cipher_hex, out, key), 1);
        EXPECT_EQ(std::string(out.data(), 8), plain);  // all eight bytes, zero bytes included
        EXPECT_EQ(out[8], '\0');
    }
}

TEST(Blowfish, BigEndianValuesAndLowerCaseDigitsDoNotDecrypt) {
    const Vector& v = kPublishedVectors[6];
    const std::string key = FromHex(v.key);
    std::array<char, 9> out{};
    // The published (big-endian) cipher text does not give back its published plain text.
    DecryptConfigValue(v.cipher, out, key);
    EXPECT_NE(std::string(out.data(), 8), FromHex(v.plain));
    // Lower-case digits decode to other bytes.
    std::string lower = SwapHalves(v.cipher);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    DecryptConfigValue(lower, out, key);
    EXPECT_NE(std::string(out.data(), 8), FromHex(SwapHalves(v.plain)));
}

TEST(Blowfish, HexDigitValues) {
    const struct {
        const char* digits;
        std::array<unsigned char, 8> bytes;
    } cases[] = {
        {"0123456789ABCDEF", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
        // 'a' is 97 - 48 = 49, so "0a" is 49 and "a0" is (16 * 49) mod 256 = 16.
        {"0aa00f0G00000000", {49, 16, 54, 23, 0, 0, 0, 0}},
        // A blank is 32 - 48 = -16, modulo 256 240: " 0" gives (16 * 240) mod 256 = 0, "0 " 240;
        // 'G' is 23, so "G0" is 112; byte 0xFF is 207, so "\xFF" "0" is (16 * 207) mod 256 = 240.
        {" 00 G00000000000", {0, 240, 112, 0, 0, 0, 0, 0}},
        {"\xFF"
         "000000000000000",
         {240, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.digits);
        std::array<unsigned char, 8> bytes{};
        blowfish::DecodeHexGroup(c.digits, bytes.data());
        EXPECT_EQ(bytes, c.bytes);
    }
}

TEST(ConfigCipher, RoundTripWithTheBuiltInKey) {
    // Lengths around the block size: the last block is filled with zero bytes, a text of a whole
    // number of blocks gets no block of its own for its terminator.
    for (std::size_t n = 0; n <= 24; ++n) {
        std::string plain;
        for (std::size_t i = 0; i < n; ++i) plain.push_back(static_cast<char>('a' + i % 26));
        plain.back() = n > 0 ? '\xFC' : plain.back();
        SCOPED_TRACE(n);
        const std::string hex = EncryptConfigValue(plain, kConfigKey);
        EXPECT_EQ(hex.size(), (n + 7) / 8 * 16);
        EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        std::string out(hex.size() / 2 + 1, 'x');
        DecryptConfigValue(hex, out, kConfigKey);
        EXPECT_EQ(TextOf(out), plain);
    }
}

TEST(ConfigCipher, PlainTextEndsAtItsFirstZeroByte) {
    const std::string hex = EncryptConfigValue(std::string_view("ab\0cdefghij", 11), kConfigKey);
    std::string out(17, 'x');
    DecryptConfigValue(hex, out, kConfigKey);
    EXPECT_EQ(TextOf(out), "ab");
}

// An incomplete last group is not decrypted: it cannot be read whole, and what it would give has
// no meaning.  The whole groups before it still decrypt.
TEST(ConfigCipher, IncompleteLastGroupIsIgnored) {
    const std::string hex = EncryptConfigValue("12345678geheim", kConfigKey);
    ASSERT_EQ(hex.size(), 32u);
    const struct {
        std::string text;
        std::string_view plain;
    } cases[] = {
        {"", ""},
        {"\n", ""},  // what an empty value in the file arrives as
        {hex.substr(0, 15), ""},
        {hex.substr(0, 16) + "\n", "12345678"},
        {hex.substr(0, 31), "12345678"},
        {hex, "12345678geheim"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string out(8 * ((c.text.size() + 15) / 16) + 1, 'x');
        EXPECT_EQ(DecryptConfigValue(c.text, out, kConfigKey), 1);
        EXPECT_EQ(TextOf(out), c.plain);
    }
}

TEST(ConfigCipher, NeverWritesPastTheDestination) {
    const std::string hex = EncryptConfigValue("0123456789abcdefXYZ", kConfigKey);  // 3 groups
    // Room for one group and the terminator only: just that group is decrypted.
    std::array<char, 12> buffer;
    buffer.fill('#');
    DecryptConfigValue(hex, std::span<char>(buffer).first(10), kConfigKey);
    EXPECT_EQ(TextOf(buffer), "01234567");
    EXPECT_EQ(buffer[9], '#');
    EXPECT_EQ(buffer[10], '#');
    DecryptConfigValue(hex, std::span<char>(buffer).first(0), kConfigKey);  // nothing at all
}

}  // namespace
}  // namespace snp
