// Fuzz target: the configuration file reader over arbitrary file contents.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config.h"
#include "config/config_file.h"

namespace {

// One in-memory file for the whole run, reached by a path as the reader expects.
const std::string& FuzzFilePath() {
    static const std::string path = [] {
        const int fd = ::memfd_create("snp-config-fuzz", 0);
        if (fd < 0) std::abort();
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = FuzzFilePath();
    const int fd = std::stoi(path.substr(path.rfind('/') + 1));
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        std::abort();
    }

    snp::ConfigLookup storage;
    for (const char* key : {"DATABASE", "SCHEMA", "LOGIN", "PASS"}) {
        snp::ReadConfigValue(storage, "", key, 0, path.c_str());
        // A value holds at most 200 characters, so at most 12 whole groups decrypt.
        if (storage.value.length() > 96) std::abort();
    }
    // A lookup that no entry can match by section: only key or number decide.
    snp::ReadConfigValue(storage, "no such section", "KEY", size > 0 ? data[0] - 128 : 7,
                         path.c_str());

    snp::ConfigFileReader reader(path.c_str());
    snp::ConfigEntry entry;
    int previous = -1;
    while (reader.Next(entry)) {
        // Every entry is two lines, a cut line counting as one.
        if (entry.first_line != previous + 2) std::abort();
        previous = entry.first_line;
    }
    return 0;
}
