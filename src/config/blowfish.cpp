// Blowfish (ECB), the configuration values' decryption and its counterpart for the
// configuration tool.
#include "config/blowfish.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "config/blowfish_tables.h"
#include "config/config.h"

namespace snp {
namespace blowfish {

namespace {

std::uint32_t Round(const CipherState& state, std::uint32_t x) {
    const std::uint32_t a = x >> 24;
    const std::uint32_t b = (x >> 16) & 0xFF;
    const std::uint32_t c = (x >> 8) & 0xFF;
    const std::uint32_t d = x & 0xFF;
    return ((state.s[0][a] + state.s[1][b]) ^ state.s[2][c]) + state.s[3][d];
}

}  // namespace

void CipherState::Schedule(std::string_view key) {
    s = kInitialS;
    std::size_t position = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        std::uint32_t word = 0;
        if (!key.empty()) {
            // Key bytes are unsigned and read cyclically, the first of four the most significant.
            for (int k = 0; k < 4; ++k) {
                word = (word << 8) | static_cast<unsigned char>(key[position]);
                position = (position + 1) % key.size();
            }
        }
        p[i] = kInitialP[i] ^ word;
    }
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    for (std::size_t i = 0; i < p.size(); i += 2) {
        EncryptBlock(left, right);
        p[i] = left;
        p[i + 1] = right;
    }
    for (auto& box : s) {
        for (std::size_t i = 0; i < box.size(); i += 2) {
            EncryptBlock(left, right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
}

void CipherState::EncryptBlock(std::uint32_t& left, std::uint32_t& right) const {
    std::uint32_t l = left;
    std::uint32_t r = right;
    for (std::size_t i = 0; i < 16; ++i) {
        l ^= p[i];
        r ^= Round(*this, l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= p[16];
    l ^= p[17];
    left = l;
    right = r;
}

void CipherState::DecryptBlock(std::uint32_t& left, std::uint32_t& right) const {
    std::uint32_t l = left;
    std::uint32_t r = right;
    for (std::size_t i = 17; i > 1; --i) {
        l ^= p[i];
        r ^= Round(*this, l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= p[1];
    l ^= p[0];
    left = l;
    right = r;
}

void CipherState::Wipe() {
    volatile std::uint32_t* words = p.data();
    for (std::size_t i = 0; i < p.size(); ++i) words[i] = 0;
    for (auto& box : s) {
        words = box.data();
        for (std::size_t i = 0; i < box.size(); ++i) words[i] = 0;
    }
}

void DecodeHexGroup(const char* digits, unsigned char* bytes) {
    // c - 55 for 'A'..'F', c - 48 for everything else, all modulo 256.
    const auto value = [](char c) -> unsigned {
        const auto u = static_cast<unsigned char>(c);
        return (u >= 'A' && u <= 'F') ? (u - 55u) & 0xFFu : (u - 48u) & 0xFFu;
    };
    for (int i = 0; i < 8; ++i) {
        bytes[i] =
            static_cast<unsigned char>(16u * value(digits[2 * i]) + value(digits[2 * i + 1]));
    }
}

}  // namespace blowfish

int DecryptConfigValue(std::string_view encrypted, std::span<char> destination,
                       std::string_view key) {
    blowfish::CipherState state;
    state.Schedule(key);

    // Only whole groups of 16 digits are decrypted: an incomplete last group (a value cut short,
    // or the line feed that an empty value consists of) is ignored, so it neither reads past the
    // text nor adds meaningless bytes.  Groups that would not fit the destination are not
    // decrypted either.
    std::size_t groups = encrypted.size() / 16;
    if (destination.empty()) {
        state.Wipe();
        return 1;
    }
    if (groups > (destination.size() - 1) / 8) groups = (destination.size() - 1) / 8;

    for (std::size_t g = 0; g < groups; ++g) {
        std::array<unsigned char, 8> block;
        blowfish::DecodeHexGroup(encrypted.data() + 16 * g, block.data());
        std::uint32_t left = blowfish::LoadLittleEndian(block.data());
        std::uint32_t right = blowfish::LoadLittleEndian(block.data() + 4);
        state.DecryptBlock(left, right);
        blowfish::StoreLittleEndian(left, block.data());
        blowfish::StoreLittleEndian(right, block.data() + 4);
        for (std::size_t i = 0; i < 8; ++i) destination[8 * g + i] = static_cast<char>(block[i]);
    }
    destination[8 * groups] = '\0';
    state.Wipe();
    return 1;
}

std::string EncryptConfigValue(std::string_view plain, std::string_view key) {
    blowfish::CipherState state;
    state.Schedule(key);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve((plain.size() + 7) / 8 * 16);
    for (std::size_t offset = 0; offset < plain.size(); offset += 8) {
        // Zero bytes fill the last block; they end the plain text when it is decrypted.
        std::array<unsigned char, 8> block{};
        for (std::size_t i = 0; i < 8 && offset + i < plain.size(); ++i) {
            block[i] = static_cast<unsigned char>(plain[offset + i]);
        }
        std::uint32_t left = blowfish::LoadLittleEndian(block.data());
        std::uint32_t right = blowfish::LoadLittleEndian(block.data() + 4);
        state.EncryptBlock(left, right);
        blowfish::StoreLittleEndian(left, block.data());
        blowfish::StoreLittleEndian(right, block.data() + 4);
        for (const unsigned char b : block) {
            hex.push_back(kDigits[b >> 4]);
            hex.push_back(kDigits[b & 0x0F]);
        }
    }
    state.Wipe();
    return hex;
}

}  // namespace snp
