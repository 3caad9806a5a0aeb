// Lookup of a value in the configuration file.
#include <string.h>

#include <array>
#include <cstdint>
#include <string_view>

#include "config/config.h"
#include "config/config_file.h"
#include "text/text.h"

namespace snp {

void ReadConfigValue(ConfigLookup& storage, std::string_view section, std::string_view key,
                     std::int32_t number, const char* path) {
    storage.number = 0;
    storage.section.clear();
    storage.key.clear();
    storage.value.clear();

    ConfigFileReader reader(path);
    if (!reader.is_open()) return;  // a missing file gives the empty value, without a message

    ConfigEntry entry;
    while (reader.Next(entry)) {
        // Any one of the three suffices; this is why an entry with an empty section field or the
        // number 0 is taken by every start-up lookup that reaches it.
        if (entry.section.view() != section && entry.key.view() != key && entry.number != number) {
            continue;
        }
        storage.number = entry.number;
        storage.section = entry.section;
        storage.key = entry.key;

        // A value of at most 200 characters decrypts to at most 13 groups of 8 bytes.
        std::array<char, 8 * 13 + 1> plain{};
        DecryptConfigValue(entry.value.view(), plain, kConfigKey);
        storage.value.assign(TextOf(plain));
        ::explicit_bzero(plain.data(), plain.size());  // a store the compiler may not drop
        entry.value.clear();
        return;
    }
}

}  // namespace snp
