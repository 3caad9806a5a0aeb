// Program entry of the configuration tool: dispatches to its commands and prints the help.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "config/config.h"
#include "tool/tool.h"

namespace snptool {

namespace {

void PrintHelp(std::FILE* out) {
    std::fputs(
        "snp72k2zeiimp-config - Konfigurationsdatei des Konverters snp72k2zeiimp\n"
        "\n"
        "Aufruf:\n"
        "  snp72k2zeiimp-config write --database DSN --schema NAME --login BENUTZER\n"
        "                             [--password-file DATEI] KONFIGURATIONSDATEI\n"
        "  snp72k2zeiimp-config check KONFIGURATIONSDATEI\n"
        "  snp72k2zeiimp-config encrypt TEXT\n"
        "  snp72k2zeiimp-config BEFEHL --help\n"
        "\n"
        "Befehle:\n"
        "  write    schreibt die verschl\xFC"
        "sselte Konfigurationsdatei (Datenquelle, Schema,\n"
        "           Benutzer, Passwort) mit den Rechten 0600\n"
        "  check    zeigt, was der Konverter beim Start aus der Datei liest, und warnt\n"
        "           vor fehlenden, verdeckten oder fehlerhaften Eintr\xE4"
        "gen\n"
        "  encrypt  gibt TEXT verschl\xFC"
        "sselt als Hexadezimaltext aus\n"
        "\n"
        "Exit-Code: 0 in Ordnung, 1 Fehler oder Warnungen, 2 falscher Aufruf.\n",
        out);
}

void PrintEncryptHelp(std::FILE* out) {
    std::fputs(
        "Aufruf: snp72k2zeiimp-config encrypt TEXT\n"
        "\n"
        "Verschl\xFC"
        "sselt TEXT mit dem eingebauten Schl\xFC"
        "ssel des Konverters und gibt ihn\n"
        "als Hexadezimaltext in Gro\xDF"
        "buchstaben aus, 16 Ziffern je Block von 8 Zeichen,\n"
        "so wie die Werte in der Konfigurationsdatei stehen.\n"
        "F\xFC"
        "r Passw\xF6"
        "rter besser 'write' verwenden: der TEXT steht sonst in der\n"
        "Prozessliste und in der Shell-Historie.\n",
        out);
}

bool IsHelp(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

int RunEncrypt(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            PrintEncryptHelp(stdout);
            return kToolOk;
        }
    }
    if (argc != 2) {
        std::fputs("encrypt erwartet genau einen TEXT.\n\n", stderr);
        PrintEncryptHelp(stderr);
        return kToolUsage;
    }
    std::printf("%s\n", snp::EncryptConfigValue(argv[1], snp::kConfigKey).c_str());
    return kToolOk;
}

}  // namespace

}  // namespace snptool

int main(int argc, char** argv) {
    using namespace snptool;
    if (argc < 2) {
        PrintHelp(stderr);
        return kToolUsage;
    }
    const std::string_view command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        PrintHelp(stdout);
        return kToolOk;
    }
    if (command == "write") return RunWrite(argc - 1, argv + 1);
    if (command == "check") return RunCheck(argc - 1, argv + 1);
    if (command == "encrypt") return RunEncrypt(argc - 1, argv + 1);
    std::fprintf(stderr, "Unbekannter Befehl '%s'.\n\n", argv[1]);
    PrintHelp(stderr);
    return kToolUsage;
}
