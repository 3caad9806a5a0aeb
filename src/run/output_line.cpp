// The output line of a booking: the server pads the text fields and writes the date with its
// four-digit year, the time is formatted here, and the line goes out with fixed columns.
#include <cstdio>
#include <string>

#include "db/query.h"
#include "run/output_record.h"
#include "run/run.h"

namespace snp {

namespace {

constexpr std::string_view kFormatOutputSql =
    "SELECT  '%s' +    replicate(' ', 20-datalength( '%s')),   '%s' + replicate(' ', "
    "8-datalength('%s')),   convert(varchar(10),convert(datetime, '%s', 4), 104),   '%s' +      "
    "replicate(' ', 30-datalength('%s')) ";

/// A column as the record gets it: a NULL leaves the record's own value.
template <std::size_t N>
void Take(const Field<N>& column, SQLLEN indicator, Field<N>& field) {
    if (indicator != SQL_NULL_DATA) field.assign(column.view());
}

}  // namespace

int FormatOutputFields(DbState& db, OutputRecord& record, std::string_view booking_date,
                       std::string_view booking_time, std::string_view personnel_number) {
    Field<21> schema = record.SchemaName;
    Field<9> pnr = record.PersonnelNumber;
    Field<11> date = record.DateText;
    Field<31> cost_centre = record.CostCentre;
    Field<9> personnel;
    personnel.assign(personnel_number);

    const Field<9> short_date = DottedDate(booking_date);
    Field<6> time;  // HH:MM; the seconds of the booking time are not used
    {
        std::string hhmm(booking_time.substr(0, 2));
        hhmm += ':';
        if (booking_time.size() > 2) hhmm += booking_time.substr(2, 2);
        time.assign(hhmm);
    }

    SQLLEN indicators[4] = {};
    const int rc = QueryFirstRow(
        db, kFormatOutputSql,
        {record.SchemaName.view(), record.SchemaName.view(), personnel.view(), personnel.view(),
         short_date.view(), record.CostCentre.view(), record.CostCentre.view()},
        {TextColumn(schema, indicators[0]), TextColumn(pnr, indicators[1]),
         TextColumn(date, indicators[2]), TextColumn(cost_centre, indicators[3])});
    if (rc != 0) return rc;  // the record stays as it was

    Take(schema, indicators[0], record.SchemaName);
    Take(pnr, indicators[1], record.PersonnelNumber);
    Take(date, indicators[2], record.DateText);
    record.TimeText.assign(time.view());
    Take(cost_centre, indicators[3], record.CostCentre);
    return 0;
}

bool WriteOutputLine(RunContext& run, const BookingRecord& booking) {
    OutputRecord& out = run.output;
    const int rc =
        FormatOutputFields(run.db, out, booking.BookingDate.view(), booking.BookingTime.view(),
                           run.booking.PersonnelNumber.view());
    if (rc != 0) {
        // A line from unformatted fields would be short and shift every column after it: the
        // booking gets no line, and the log names it.
        std::fprintf(run.console,
                     "- Ausgabezeile konnte nicht aufbereitet werden und wird nicht geschrieben. "
                     "(Asw: %s, dat: %s, uhr: %s) SQL-CODE: %d, SQL-MESSAGE: %s\n",
                     booking.BadgeNumber.data(), booking.BookingDate.data(),
                     booking.BookingTime.data(), rc, run.db.diag.message.data());
        return true;
    }

    // "%s%s%s%s%s%-3s%s\n"
    std::string line;
    line.reserve(88);
    line += out.SchemaName.view();
    line += out.PersonnelNumber.view();
    line += out.DateText.view();
    line += out.TimeText.view();
    line += out.BchFkt.view();
    line += out.BchFcd.view();
    if (out.BchFcd.length() < 3) line.append(3 - out.BchFcd.length(), ' ');
    line += out.CostCentre.view();
    line += '\n';
    return run.output_file != nullptr && run.output_file->Write(line);
}

}  // namespace snp
