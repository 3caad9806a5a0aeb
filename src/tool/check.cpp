// The check command: what the converter's start-up will read from a configuration file, and what
// would go wrong.
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "config/config_file.h"
#include "tool/tool.h"

namespace snptool {

namespace {

// Start-up takes the first entry whose section field equals "" or whose key field equals the
// key or whose number equals 0.
bool TakenByStartUp(const snp::ConfigEntry& e, std::string_view key) {
    return e.section.empty() || e.key.view() == key || e.number == 0;
}

bool IsUpperHex(std::string_view text) {
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

bool HasControlBytes(std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return true;
    }
    return false;
}

// Warnings are collected and printed after what start-up reads.
class Report {
  public:
    __attribute__((format(printf, 2, 3))) void Warn(const char* format, ...) {
        char text[1024];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        warnings_.push_back(std::string("Warnung: ") + text);
    }
    const std::vector<std::string>& warnings() const { return warnings_; }

  private:
    std::vector<std::string> warnings_;
};

}  // namespace

std::string Printable(std::string_view value) {
    std::string out;
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            out += escaped;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void PrintCheckHelp(std::FILE* out) {
    std::fputs(
        "Aufruf: snp72k2zeiimp-config check KONFIGURATIONSDATEI\n"
        "\n"
        "Liest die Datei so, wie der Konverter sie beim Start liest, und zeigt DATABASE,\n"
        "das Startschema, LOGIN und PASS (verdeckt). Warnt, wenn ein Eintrag fehlt, ein\n"
        "Eintrag jede Suche beantwortet und sp\xE4"
        "tere Eintr\xE4"
        "ge verdeckt (weniger als zwei\n"
        "Trennzeichen in seiner ersten Zeile oder Nummer 0 in seiner zweiten), ein Wert\n"
        "andere Zeichen als Hexadezimalziffern in Gro\xDF"
        "schreibung enth\xE4"
        "lt oder nicht\n"
        "aus ganzen Gruppen von 16 Ziffern besteht, oder ein Wert l\xE4"
        "nger ist, als der\n"
        "Konverter ihn aufnimmt.\n"
        "\n"
        "Exit-Code: 0 ohne Warnungen, 1 mit Warnungen oder wenn die Datei nicht lesbar ist.\n",
        out);
}

int RunCheck(int argc, char** argv) {
    std::vector<const char*> paths;
    bool usage_error = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintCheckHelp(stdout);
            return kToolOk;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            usage_error = true;
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (usage_error || paths.size() != 1) {
        std::fputs("check erwartet genau eine Konfigurationsdatei.\n\n", stderr);
        PrintCheckHelp(stderr);
        return kToolUsage;
    }
    const char* path = paths[0];

    std::vector<snp::ConfigEntry> entries;
    {
        snp::ConfigFileReader reader(path);
        if (!reader.is_open()) {
            std::printf(
                "Datei '%s' kann nicht gelesen werden; der Konverter liest dann leere "
                "Werte und kann nicht verbinden.\n",
                path);
            return kToolProblem;
        }
        snp::ConfigEntry entry;
        while (reader.Next(entry)) entries.push_back(entry);
    }

    Report report;
    std::string shown[4];
    for (std::size_t k = 0; k < 4; ++k) {
        const std::string_view key = kKeys[k];
        const snp::ConfigEntry* taken = nullptr;
        const snp::ConfigEntry* own = nullptr;
        for (const auto& e : entries) {
            if (!taken && TakenByStartUp(e, key)) taken = &e;
            if (!own && e.key.view() == key) own = &e;
        }

        snp::ConfigLookup lookup;
        snp::ReadConfigValue(lookup, "", key, 0, path);
        const std::string value(lookup.value.view());
        lookup.value.clear();

        if (taken == nullptr) {
            report.Warn(
                "kein Eintrag f\xFC"
                "r %s; der Konverter liest einen leeren Wert.",
                kKeys[k]);
        } else if (taken->key.view() != key) {
            const char* reason = taken->section.empty()
                                     ? "seine erste Zeile hat weniger als zwei Trennzeichen"
                                     : "seine Nummer ist 0";
            if (own != nullptr) {
                report.Warn(
                    "%s wird aus dem Eintrag in Zeile %d gelesen (%s), der den Eintrag "
                    "f\xFC"
                    "r %s in Zeile %d verdeckt.",
                    kKeys[k], taken->first_line, reason, kKeys[k], own->first_line);
            } else {
                report.Warn(
                    "kein Eintrag f\xFC"
                    "r %s; gelesen wird der Eintrag in Zeile %d (%s).",
                    kKeys[k], taken->first_line, reason);
            }
        }
        if (taken != nullptr) {
            const std::string_view raw = taken->value.view();
            const bool empty_value = raw == "\n";  // nothing after the separator
            if (taken->value_cut) {
                report.Warn(
                    "der Wert f\xFC"
                    "r %s (Zeile %d) ist l\xE4"
                    "nger als 200 Zeichen und wird abgeschnitten.",
                    kKeys[k], taken->first_line + 1);
            }
            if (!empty_value && !IsUpperHex(raw)) {
                report.Warn(
                    "der Wert f\xFC"
                    "r %s (Zeile %d) enth\xE4"
                    "lt Zeichen, die keine Hexadezimalziffern in "
                    "Gro\xDF"
                    "schreibung sind.",
                    kKeys[k], taken->first_line + 1);
            }
            if (!empty_value && raw.size() % 16 != 0) {
                report.Warn(
                    "der Wert f\xFC"
                    "r %s (Zeile %d) besteht nicht aus ganzen Gruppen von 16 Ziffern; "
                    "die unvollst\xE4"
                    "ndige letzte Gruppe wird nicht gelesen.",
                    kKeys[k], taken->first_line + 1);
            }
        }
        if (HasControlBytes(value)) {
            report.Warn(
                "der Wert f\xFC"
                "r %s ergibt Steuerzeichen (falscher Schl\xFC"
                "ssel oder besch\xE4"
                "digter Wert?).",
                kKeys[k]);
        }
        const std::size_t limit = key == "SCHEMA" ? kSchemaLimit + 1 : kConnectLimit;
        if (value.size() > limit) {
            report.Warn(
                "der Wert f\xFC"
                "r %s hat %zu Zeichen, der Konverter nimmt h\xF6"
                "chstens %zu und startet nicht.",
                kKeys[k], value.size(), limit);
        }
        if (key == "DATABASE" && value.empty()) {
            report.Warn("DATABASE ist leer; ohne Datenquelle kann der Konverter nicht verbinden.");
        }

        if (key == "SCHEMA") {
            // Start-up drops the last character and upper-cases the rest.
            std::string schema = value.empty() ? value : value.substr(0, value.size() - 1);
            for (char& c : schema) {
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            }
            shown[k] = Printable(schema);
        } else if (key == "PASS") {
            shown[k] = value.empty() ? "(leer)" : "********";
        } else {
            shown[k] = Printable(value);
        }
    }

    std::printf("Konfigurationsdatei '%s'\n", path);
    std::printf("  DATABASE     %s\n", shown[0].c_str());
    std::printf("  Startschema  %s\n", shown[1].c_str());
    std::printf("  LOGIN        %s\n", shown[2].c_str());
    std::printf("  PASS         %s\n", shown[3].c_str());
    for (const auto& warning : report.warnings()) std::puts(warning.c_str());
    if (report.warnings().empty()) {
        std::puts("Keine Probleme gefunden.");
        return kToolOk;
    }
    return kToolProblem;
}

}  // namespace snptool
