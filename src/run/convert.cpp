// The conversion of one booking: badge to person, client to schema, terminal and message type to
// booking function, reader and person to cost centres, then the decision matrix and the output
// line, or the canteen insert for a canteen booking.  Every step reports on the console, so that
// the log of a run shows what became of each booking.
#include <cstdio>
#include <string>

#include "run/run.h"
#include "text/text.h"

namespace snp {

namespace {

/// Message types "A" to "G" become the codes "10" to "16" in place; every other one stays.
void MapMessageType(Field<3>& message_type) {
    const std::string_view type = message_type.view();
    if (type.size() == 1 && type[0] >= 'A' && type[0] <= 'G') {
        const char code[3] = {'1', static_cast<char>('0' + (type[0] - 'A')), '\0'};
        message_type.assign(code);
    }
}

/// Up to `n` characters of `text` from `pos`; fewer, or none, where the text is shorter.
std::string_view Chars(std::string_view text, std::size_t pos, std::size_t n) {
    if (pos >= text.size()) return {};
    return text.substr(pos, n);
}

constexpr std::int32_t kFixed = 1;
constexpr std::int32_t kVariable = 2;

}  // namespace

void DecideCostCentre(const BookingContext& booking, Field<31>& cost_centre) {
    cost_centre.assign(" ");
    if (booking.PersonnelRelation == kFixed) {
        cost_centre.assign(booking.PersonnelCostCentre.view());
    } else if (booking.PersonnelRelation == kVariable) {
        switch (booking.MessageTypeRelation) {
            case kFixed:
                cost_centre.assign(booking.ReaderCostCentre.view());
                break;
            case kVariable:
                cost_centre.assign(!booking.ReaderCostCentre.empty()
                                       ? booking.ReaderCostCentre.view()
                                       : booking.PersonnelCostCentre.view());
                break;
            default:
                cost_centre.assign(booking.PersonnelCostCentre.view());
                break;
        }
    }
}

void BuildCanteenRecord(const BookingRecord& booking, sqlZkv321Kan& record) {
    record = sqlZkv321Kan{};
    const std::string_view date = booking.BookingDate.view();
    record.KanPor.assign("01");
    record.KanFcd.assign("_K");
    // The century is always 20.
    std::string stamp = "20";
    stamp += Chars(date, 4, 2);
    stamp += Chars(date, 2, 2);
    stamp += Chars(date, 0, 2);
    record.KanDtm.assign(stamp);
    record.KanUhr.assign(Chars(booking.BookingTime.view(), 0, 4));
    record.KanMsk.assign("K01");
    record.KanAwn.assign(Chars(booking.BadgeNumber.view(), 0, 8));  // trailing blanks included
    record.KanDat.assign(booking.BookingFlag == "1" ? "0001" : "0000");
}

bool ConvertBooking(RunContext& run, BookingRecord& booking) {
    std::FILE* const console = run.console;
    DbState& db = run.db;
    BookingContext& ctx = run.booking;
    OutputRecord& out = run.output;

    // A blank message type drops the booking without a message.
    if (booking.MessageType == " ") return true;

    // Badge to personnel number, licence and client.
    ctx.PersonnelNumber.clear();
    if (OpenAswCursor(db, booking.BadgeNumber.view(), booking.BookingDate.view()) != 0) {
        std::fprintf(console, "- Open auf Datei Zkv301Asw fehlgeschlagen. \n");
        return false;
    }
    if (const int rc = FetchAswCursor(db, ctx.PersonnelNumber, ctx.Licence, ctx.Client); rc != 0) {
        std::fprintf(console,
                     "- Der Ausweisnummer (%s) konnte keine Personalnummer, Lizenz, Mandant "
                     "entnommen werden.\n",
                     booking.BadgeNumber.data());
        std::fprintf(console, "AswCursor Fetch: SQLCode: %ld\n", static_cast<long>(rc));
        CloseAswCursor(db);
        return true;
    }
    // A personnel number with an inner blank ends there; one that begins with a blank stays whole.
    if (const std::size_t blank = ctx.PersonnelNumber.view().find(' ');
        blank != std::string_view::npos && blank != 0) {
        ctx.PersonnelNumber.bytes[blank] = '\0';
    }
    CloseAswCursor(db);

    MapMessageType(booking.MessageType);

    // Client to schema.  A missing schema leaves the name empty, and the empty name becomes the
    // current schema like any other.
    out = OutputRecord{};
    if (ReadClientSchema(db, out.SchemaName, ctx.Licence.view(), ctx.Client.view()) != 0) {
        std::fprintf(console,
                     "- Schemaname konnte der Mandantentabelle nicht entnommen werden:\n"
                     "  Liz: %s, Mnd: %s, Kon: %i\n",
                     ctx.Licence.data(), ctx.Client.data(), 0);
    }
    UpperCase(out.SchemaName);
    if (out.SchemaName == "DBO") out.SchemaName.assign("VORKANDEL");
    if (out.SchemaName.view() != db.current_schema.view()) SelectSchema(db, out.SchemaName.view());

    // A canteen booking is inserted and never gives a line.
    if (booking.MessageType == "K") {
        BuildCanteenRecord(booking, run.canteen);
        if (const int rc = InsertCanteenBooking(db, run.canteen); rc != 0) {
            std::fprintf(console, "Kantinendaten konnten nicht eingepflegt werden.\n");
            std::fprintf(console, "SQL-CODE: %d, SQL-Message: %s\n", rc, db.diag.message.data());
        }
        return true;
    }

    // Terminal and message type to booking function; no row leaves both blank.
    if (const int rc = ReadMessageType(db, console, out.BchFkt, out.BchFcd, run.TerminalName.view(),
                                       booking.MessageType.view());
        rc != 0 && rc != SQL_NO_DATA) {
        std::fprintf(console, "- Meldungsart /-typ konnten nicht gelesen werden.\n");
        std::fprintf(console, " SQL-CODE: %d, SQL-MESSAGE: %s\n", rc, db.diag.message.data());
        return true;
    }

    ctx.ReaderCostCentre.fill_text(30, ' ');
    out.CostCentre.fill_text(30, ' ');
    if (const int rc = ReadReaderCostCentre(db, ctx.ReaderCostCentre, run.TerminalName.view(),
                                            booking.ReaderId.view());
        rc != 0) {
        // The line goes out with 30 blanks as cost centre.
        std::fprintf(console,
                     "- Kostenstelle konnte dem Leser %s des Terminals %s nicht entnommen werden. "
                     "SQL-CODE: %d, SQL-MESSAGE: %s\n",
                     booking.ReaderId.data(), run.TerminalName.data(), rc, db.diag.message.data());
    } else {
        std::fprintf(console,
                     "- Leserkostenstelle %s f\xFC"
                     "r Leser %s am Terminal %s eingelesen. "
                     "(Asw: %s, dat: %s, uhr: %s)\n",
                     ctx.ReaderCostCentre.data(), booking.ReaderId.data(), run.TerminalName.data(),
                     booking.BadgeNumber.data(), booking.BookingDate.data(),
                     booking.BookingTime.data());

        ctx.PersonnelRelation = 0;
        ctx.PersonnelCostCentre.clear();
        if (const int rc =
                ReadPersonnelAssignment(db, ctx.PersonnelRelation, ctx.PersonnelCostCentre,
                                        ctx.PersonnelNumber.view(), booking.BookingDate.view());
            rc != 0) {
            std::fprintf(console,
                         "- G\xFC"
                         "ltige Personalzuordnung konnte nicht eingelesen werden. Pnr: %s, "
                         "Datum: %s, SQL-CODE: %d, SQL-MSG: %s\n",
                         ctx.PersonnelNumber.data(), booking.BookingDate.data(), rc,
                         db.diag.message.data());
        } else {
            std::fprintf(console,
                         "- Personalzuordnung eingelesen. Pnr: %s, Dat: %s, Kst-Beziehung: %d, "
                         "Kst: %s\n",
                         ctx.PersonnelNumber.data(), booking.BookingDate.data(),
                         static_cast<int>(ctx.PersonnelRelation), ctx.PersonnelCostCentre.data());
        }

        // The lookup trims the function code in place; the lines below and the output line see
        // the shortened code.
        ctx.MessageTypeRelation = 0;
        if (ReadCostCentreRelation(db, ctx.MessageTypeRelation, out.BchFcd) != 0) {
            std::fprintf(console,
                         "- Kostenstellenbeziehung der Meldungsart %s konnte nicht eingelesen "
                         "werden.\n",
                         out.BchFcd.data());
        } else {
            std::fprintf(console, "- Eingelesene Kostenstellenbeziehung von %s lautet %d.\n",
                         out.BchFcd.data(), static_cast<int>(ctx.MessageTypeRelation));
        }

        std::fprintf(console, "- Entscheidungsmatrix: Pnr: %d, Mld: %d (1=fix, 2=variabel)\n",
                     static_cast<int>(ctx.PersonnelRelation),
                     static_cast<int>(ctx.MessageTypeRelation));
        DecideCostCentre(ctx, out.CostCentre);
    }

    if (ctx.PersonnelNumber.empty()) return true;  // no person, no line
    return WriteOutputLine(run, booking);
}

}  // namespace snp
