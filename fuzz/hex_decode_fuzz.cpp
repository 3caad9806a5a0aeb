// Fuzz target: decryption of arbitrary value texts under arbitrary keys, and the round trip of
// arbitrary plain texts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "config/blowfish.h"
#include "config/config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t key_length = std::min<std::size_t>(data[0] % 17, size - 1);
    const std::string key(reinterpret_cast<const char*>(data + 1), key_length);
    const std::string_view text(reinterpret_cast<const char*>(data + 1 + key_length),
                                size - 1 - key_length);

    // The destination exactly as large as the caller must make it, on the heap so that the
    // sanitizer sees every byte past it.
    std::vector<char> destination(8 * ((text.size() + 15) / 16) + 1);
    if (snp::DecryptConfigValue(text, destination, key) != 1) std::abort();
    if (std::memchr(destination.data(), '\0', destination.size()) == nullptr) std::abort();

    for (std::size_t offset = 0; offset + 16 <= text.size(); offset += 16) {
        unsigned char bytes[8];
        snp::blowfish::DecodeHexGroup(text.data() + offset, bytes);
    }

    // Whatever the text, encrypting it gives back its part before the first zero byte.
    const std::string hex = snp::EncryptConfigValue(text, key);
    if (hex.size() != (text.size() + 7) / 8 * 16) std::abort();
    std::vector<char> plain(hex.size() / 2 + 1);
    snp::DecryptConfigValue(hex, plain, key);
    const std::string_view expected = text.substr(0, text.find('\0'));
    if (std::string_view(plain.data()) != expected) std::abort();
    return 0;
}
