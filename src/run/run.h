// The conversion run: start-up, record loop and the conversion of each booking.
#pragma once

#include <cstdint>
#include <cstdio>

#include "config/config.h"
#include "db/database.h"
#include "run/booking_record.h"
#include "run/output_record.h"
#include "text/field.h"

namespace snp {

/// The four connection values of the run, read once from the configuration file.
struct ConnectionSettings {
    Field<50> Database;
    Field<50> Schema;
    Field<50> Login;
    Field<50> Password;
};

/// Working values of the booking in progress.
struct BookingContext {
    Field<9> PersonnelNumber;
    Field<6> Licence;
    Field<6> Client;
    Field<31> ReaderCostCentre;
    std::int32_t PersonnelRelation = 0;    // 1 fix, 2 variabel, anything else neither
    Field<31> PersonnelCostCentre;
    std::int32_t MessageTypeRelation = 0;  // as PersonnelRelation
};

/// Everything a run holds, once.  main keeps the one instance in static storage for the whole
/// process: the database connection is never closed and ends with the process.
struct RunContext {
    ConfigLookup config;
    ConnectionSettings settings;
    Field<11> TerminalName;
    BookingContext booking;
    OutputRecord output;
    sqlZkv321Kan canteen;
    DbState db;

    std::FILE* console = stdout;        // every message of the run goes here
    TextOutput* output_file = nullptr;  // the open ZeiImp file
    const char* output_path = "";
};

/// Exit codes of the converter.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = -1;  // process status 255

/// Reads the connection values, sets the starting schema, connects and keeps the terminal name.
/// False (after printing its message) when the run cannot start.
bool PrepareRun(RunContext& run, const char* config_path, const char* terminal_name);

/// Converts one booking.  False only when the badge cursor cannot be opened (or the output file
/// can no longer be written), which stops the run.
bool ConvertBooking(RunContext& run, BookingRecord& booking);

/// Chooses the cost centre of the line from the two relations (the decision matrix).
void DecideCostCentre(const BookingContext& booking, Field<31>& cost_centre);

/// Fills the canteen record from the booking.
void BuildCanteenRecord(const BookingRecord& booking, sqlZkv321Kan& record);

/// Formats and writes the output line of a booking.  A failed formatting query writes no line but
/// a message naming the booking.  False when the output file could not be written.
bool WriteOutputLine(RunContext& run, const BookingRecord& booking);

/// The whole run: argument check, start-up, files, record loop.  Returns the exit code.
int RunConverter(RunContext& run, int argc, char** argv);

}  // namespace snp
