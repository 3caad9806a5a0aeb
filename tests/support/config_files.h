// Test support: encrypted configuration files as the converter reads them.
#pragma once

#include <string>
#include <string_view>

#include "config/config.h"

namespace testsupport {

/// One two-line entry: ";KEY;" and "NUMBER;KEY;" followed by the encrypted value.
inline std::string ConfigEntry(int number, std::string_view key, std::string_view value) {
    return ";" + std::string(key) + ";\n" + std::to_string(number) + ";" + std::string(key) + ";" +
           snp::EncryptConfigValue(value, snp::kConfigKey) + "\n";
}

/// The four entries start-up reads.  `schema_value` is stored as given; start-up drops its last
/// character.
inline std::string ConfigFile(std::string_view dsn, std::string_view schema_value,
                              std::string_view login, std::string_view password) {
    return ConfigEntry(1, "DATABASE", dsn) + ConfigEntry(2, "SCHEMA", schema_value) +
           ConfigEntry(3, "LOGIN", login) + ConfigEntry(4, "PASS", password);
}

}  // namespace testsupport
