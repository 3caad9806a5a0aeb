// The run: argument check, start-up, the two files and the record loop.
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "run/booking_record.h"
#include "run/output_record.h"
#include "run/run.h"

namespace snp {

namespace {

struct CloseFile {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

void PrintUsage(std::FILE* console) {
    std::fputs(
        "Snp72k2ZeiImp - Precompiler zur Uebername einer \"Snp72K-Datei\"\n"
        "mit Hilfe von \"ZeiImp\"\n",
        console);
    std::fputs(
        "Syntax: SNP72K2ZEIIMP [[VORKANDEL-Ini-Datei] [Terminalname]\n"
        "                  [Snp72k-Eingabedatei] [ZeiImp-Ausgabedatei]]\n",
        console);
}

// Said when the output file cannot be written (a full disk): the run stops at once, without
// "...fertig.", and ends with the failure code, so that a truncated file is never taken for a
// finished one.
void PrintWriteError(std::FILE* console, const char* path) {
    std::fprintf(console, "File: '%s' kann nicht geschrieben werden\n ", path);
}

}  // namespace

int RunConverter(RunContext& run, int argc, char** argv) {
    if (argc != 5) {
        PrintUsage(run.console);
        return kExitFailure;
    }
    const char* config_path = argv[1];
    const char* terminal_name = argv[2];
    const char* input_path = argv[3];
    const char* output_path = argv[4];

    if (!PrepareRun(run, config_path, terminal_name)) return kExitFailure;

    // Both files are opened in binary mode; the text-mode translation is done by TextInput and
    // TextOutput.
    File input(std::fopen(input_path, "rb"));
    // A folder opens for reading on Linux but holds no bytes: it is no input file either.
    struct stat input_status;
    if (input &&
        (::fstat(::fileno(input.get()), &input_status) != 0 || S_ISDIR(input_status.st_mode))) {
        input.reset();
    }
    if (!input) {
        std::fprintf(run.console, "File: '%s' existiert nicht\n ", input_path);
        return kExitFailure;
    }
    File output(std::fopen(output_path, "wb"));
    if (!output) {
        std::fprintf(run.console, "File: '%s' kann nicht angelegt werden\n ", output_path);
        return kExitFailure;
    }
    TextOutput text_output(output.get());
    run.output_file = &text_output;
    run.output_path = output_path;

    std::fprintf(run.console, "Uebernahme Snp72k (%s) nach ZeiImp (%s)...\n", input_path,
                 output_path);

    TextInput text_input(input.get());
    BookingRecord record;
    while (ReadBookingRecord(text_input, record)) {
        const bool go_on = ConvertBooking(run, record);
        if (text_output.failed()) break;
        if (!go_on) break;
    }

    const bool written = text_output.Flush() && std::fclose(output.release()) == 0;
    run.output_file = nullptr;
    if (!written) {
        PrintWriteError(run.console, output_path);
        return kExitFailure;
    }
    std::fputs("...fertig.", run.console);
    return kExitOk;
}

}  // namespace snp
