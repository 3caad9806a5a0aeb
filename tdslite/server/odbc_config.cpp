#include "server/odbc_config.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tdslite {
namespace {

bool WriteFile(const std::string& path, const std::string& text, std::string* error) {
    // Written beside the target and renamed, so a reader never sees half a file.
    const std::string temp = path + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        if (error) *error = "cannot write " + temp + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string FindFreeTdsDriver() {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Debian and Ubuntu keep ODBC drivers in the multiarch folder; others in the library folder.
    for (const fs::path& dir :
         {fs::path("/usr/lib/x86_64-linux-gnu/odbc"), fs::path("/usr/lib/aarch64-linux-gnu/odbc"),
          fs::path("/usr/lib/odbc"), fs::path("/usr/lib64"), fs::path("/usr/lib"),
          fs::path("/usr/local/lib"), fs::path("/usr/local/lib/odbc")}) {
        const fs::path candidate = dir / "libtdsodbc.so";
        if (fs::exists(candidate, ec)) return candidate.string();
    }
    // Any other multiarch folder.
    for (const auto& entry : fs::directory_iterator("/usr/lib", ec)) {
        const fs::path candidate = entry.path() / "odbc" / "libtdsodbc.so";
        if (fs::exists(candidate, ec)) return candidate.string();
    }
    return {};
}

bool WriteOdbcConfig(const std::string& dir, const OdbcConfig& config, std::string* error) {
    if (config.dsn.empty() || config.dsn.size() > 23) {
        if (error) *error = "DSN must have 1 to 23 characters: '" + config.dsn + "'";
        return false;
    }
    const std::string driver = config.driver.empty() ? FindFreeTdsDriver() : config.driver;
    if (driver.empty()) {
        if (error) *error = "FreeTDS ODBC driver libtdsodbc.so not found";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        if (error) *error = "cannot create " + dir + ": " + ec.message();
        return false;
    }
    const std::string odbcinst =
        "[FreeTDS]\n"
        "Description = FreeTDS ODBC driver\n"
        "Driver = " +
        driver + "\n";
    const std::string odbc = "[" + config.dsn +
                             "]\n"
                             "Description = tdslite on " +
                             config.server + ":" + std::to_string(config.port) +
                             "\n"
                             "Driver = FreeTDS\n"
                             "Server = " +
                             config.server +
                             "\n"
                             "Port = " +
                             std::to_string(config.port) +
                             "\n"
                             "TDS_Version = 7.4\n"
                             "ClientCharset = CP1252\n";
    const std::string freetds =
        "[global]\n"
        "\ttds version = 7.4\n"
        "\tclient charset = CP1252\n";
    return WriteFile(dir + "/odbcinst.ini", odbcinst, error) &&
           WriteFile(dir + "/odbc.ini", odbc, error) &&
           WriteFile(dir + "/freetds.conf", freetds, error);
}

}  // namespace tdslite
