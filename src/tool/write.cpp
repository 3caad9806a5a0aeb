// The write command: the 8-line configuration file, its four values encrypted.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "config/config.h"
#include "tool/tool.h"

namespace snptool {

namespace {

// Start-up drops the last character of the SCHEMA value; the file holds the name and this.
constexpr char kSchemaTail = ' ';

struct WriteOptions {
    std::optional<std::string> database, schema, login, password_file;
    std::optional<std::string> path;
};

// The first line of `file`, without its line end.  Empty optional when nothing could be read.
std::optional<std::string> ReadFirstLine(std::FILE* file) {
    std::string line;
    int c;
    bool any = false;
    while ((c = std::fgetc(file)) != EOF) {
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// The password: from the file named, else the first line of standard input (asked for without
// echo when that is a terminal).
std::optional<std::string> ReadPassword(const WriteOptions& options) {
    if (options.password_file) {
        std::FILE* f = std::fopen(options.password_file->c_str(), "rb");
        if (!f) {
            std::fprintf(stderr, "Passwortdatei '%s' kann nicht gelesen werden: %s\n",
                         options.password_file->c_str(), std::strerror(errno));
            return std::nullopt;
        }
        auto line = ReadFirstLine(f);
        std::fclose(f);
        return line ? line : std::string();  // an empty file is the empty password
    }
    termios saved{};
    const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        std::fputs("Passwort: ", stderr);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    auto line = ReadFirstLine(stdin);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!line) {
        std::fputs("Kein Passwort auf der Standardeingabe.\n", stderr);
        return std::nullopt;
    }
    return line;
}

bool Fits(const char* setting, std::string_view value, std::size_t limit) {
    if (value.find('\0') != std::string_view::npos) {
        std::fprintf(stderr,
                     "%s enth\xE4lt ein Nullbyte; der Konverter l\xE4se den Wert nur bis "
                     "dahin.\n",
                     setting);
        return false;
    }
    if (value.size() > limit) {
        std::fprintf(stderr,
                     "%s ist zu lang: %zu Zeichen, der Konverter nimmt h\xF6"
                     "chstens %zu.\n",
                     setting, value.size(), limit);
        return false;
    }
    return true;
}

std::string EntryLines(int number, const char* key, std::string_view plain) {
    std::string lines = ";";
    lines += key;
    lines += ";\n";
    lines += std::to_string(number);
    lines += ';';
    lines += key;
    lines += ';';
    lines += snp::EncryptConfigValue(plain, snp::kConfigKey);
    lines += '\n';
    return lines;
}

// Writes `text` to a new file beside `path` with mode 0600 and renames it over `path`, so that
// an existing file is replaced whole or not at all.
bool WriteFileAtomically(const std::string& path, const std::string& text) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        std::fprintf(stderr, "Datei '%s' kann nicht angelegt werden: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    bool ok = ::fchmod(fd, 0600) == 0;
    std::size_t written = 0;
    while (ok && written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int saved_errno = errno;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    std::fprintf(stderr, "Datei '%s' kann nicht geschrieben werden: %s\n", path.c_str(),
                 std::strerror(ok ? errno : saved_errno));
    ::unlink(temp.c_str());
    return false;
}

// Takes "--name VALUE" or "--name=VALUE" at argv[i].  False when argv[i] is another argument.
bool TakeValue(int& i, int argc, char** argv, std::string_view name,
               std::optional<std::string>& target, bool& usage_error) {
    const std::string_view arg = argv[i];
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
        target = std::string(arg.substr(name.size() + 1));
        return true;
    }
    if (arg != name) return false;
    if (i + 1 >= argc) {
        std::fprintf(stderr, "%.*s erwartet einen Wert.\n", static_cast<int>(name.size()),
                     name.data());
        usage_error = true;
        return true;
    }
    target = argv[++i];
    return true;
}

}  // namespace

void PrintWriteHelp(std::FILE* out) {
    std::fputs(
        "Aufruf: snp72k2zeiimp-config write --database DSN --schema NAME --login BENUTZER\n"
        "                                   [--password-file DATEI] KONFIGURATIONSDATEI\n"
        "\n"
        "Schreibt die Konfigurationsdatei, die der Konverter beim Start liest: vier\n"
        "Eintr\xE4"
        "ge DATABASE, SCHEMA, LOGIN und PASS, jeder Wert verschl\xFC"
        "sselt. Die Datei\n"
        "bekommt die Rechte 0600; eine vorhandene Datei wird ersetzt.\n"
        "\n"
        "  --database DSN         ODBC-Datenquelle (h\xF6"
        "chstens 23 Zeichen)\n"
        "  --schema NAME          Startschema (h\xF6"
        "chstens 31 Zeichen; der Konverter\n"
        "                         verwendet es in Gro\xDF"
        "buchstaben)\n"
        "  --login BENUTZER       Anmeldename (h\xF6"
        "chstens 23 Zeichen)\n"
        "  --password-file DATEI  Passwort aus der ersten Zeile von DATEI; ohne diese\n"
        "                         Angabe aus der ersten Zeile der Standardeingabe\n"
        "                         (h\xF6"
        "chstens 23 Zeichen)\n"
        "\n"
        "Danach liest das Programm die Datei so, wie der Konverter sie liest, und\n"
        "pr\xFC"
        "ft, dass genau diese Werte herauskommen.\n",
        out);
}

int RunWrite(int argc, char** argv) {
    WriteOptions options;
    bool usage_error = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintWriteHelp(stdout);
            return kToolOk;
        }
        if (TakeValue(i, argc, argv, "--database", options.database, usage_error) ||
            TakeValue(i, argc, argv, "--schema", options.schema, usage_error) ||
            TakeValue(i, argc, argv, "--login", options.login, usage_error) ||
            TakeValue(i, argc, argv, "--password-file", options.password_file, usage_error)) {
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "Unbekannte Angabe '%s'.\n", argv[i]);
            usage_error = true;
        } else if (options.path) {
            std::fputs("Nur eine Konfigurationsdatei angeben.\n", stderr);
            usage_error = true;
        } else {
            options.path = std::string(arg);
        }
    }
    const struct {
        const std::optional<std::string>& value;
        const char* name;
    } required[] = {
        {options.database, "--database"}, {options.schema, "--schema"}, {options.login, "--login"}};
    for (const auto& r : required) {
        if (!r.value) {
            std::fprintf(stderr, "%s fehlt.\n", r.name);
            usage_error = true;
        }
    }
    if (!options.path) {
        std::fputs("Die Konfigurationsdatei fehlt.\n", stderr);
        usage_error = true;
    }
    if (usage_error) {
        std::fputs("\n", stderr);
        PrintWriteHelp(stderr);
        return kToolUsage;
    }

    if (options.database->empty()) {
        std::fputs("DATABASE ist leer; ohne Datenquelle kann der Konverter nicht verbinden.\n",
                   stderr);
        return kToolProblem;
    }
    if (!Fits("DATABASE", *options.database, kConnectLimit) ||
        !Fits("SCHEMA", *options.schema, kSchemaLimit) ||
        !Fits("LOGIN", *options.login, kConnectLimit)) {
        return kToolProblem;
    }
    const std::optional<std::string> password = ReadPassword(options);
    if (!password || !Fits("PASS", *password, kConnectLimit)) return kToolProblem;

    const std::string schema_value = *options.schema + kSchemaTail;
    const std::string text =
        EntryLines(1, "DATABASE", *options.database) + EntryLines(2, "SCHEMA", schema_value) +
        EntryLines(3, "LOGIN", *options.login) + EntryLines(4, "PASS", *password);
    if (!WriteFileAtomically(*options.path, text)) return kToolProblem;

    // Read it back the way start-up does.
    const std::string_view expected[] = {*options.database, schema_value, *options.login,
                                         *password};
    for (std::size_t k = 0; k < 4; ++k) {
        snp::ConfigLookup lookup;
        snp::ReadConfigValue(lookup, "", kKeys[k], 0, options.path->c_str());
        if (lookup.value.view() != expected[k]) {
            std::fprintf(stderr,
                         "Die geschriebene Datei '%s' gibt %s nicht zur\xFC"
                         "ck.\n",
                         options.path->c_str(), kKeys[k]);
            return kToolProblem;
        }
    }
    std::printf("Konfigurationsdatei '%s' geschrieben.\n", options.path->c_str());
    return kToolOk;
}

}  // namespace snptool
