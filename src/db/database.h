// Database access: the run's single ODBC connection, the diagnostics it captures, the statement
// convention every query follows, the badge cursor, the master-data lookups and the canteen insert.
//
// Result codes of every operation here:
//     0    done: connected, executed, or a row was read
//   100    no row (SQL_NO_DATA)
//    -1    a handle was not allocated, the connect failed, a fetch returned SQL_ERROR, or a
//          statement failed without a native error code of its own (see ExecuteStatement)
//    -2    a fetch returned SQL_INVALID_HANDLE (lookups pass fetch codes through)
//  other   the native error code of a failed statement execution; DbState::diag holds its record
//
// Nothing here prints, except the trace of ReadMessageType.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "text/field.h"

namespace snp {

/// The last captured ODBC diagnostic.  Each capture zeroes it first; a later success keeps it.
struct DiagnosticRecord {
    Field<256> state;       // five-character SQLSTATE
    Field<1000> message;    // at most 999 characters; the driver cuts a longer message
    std::int32_t native_error = 0;
};

/// Frees a statement handle exactly once.  A statement's life: allocate, format, execute, bind,
/// fetch once, free, and only then look at what the fetch brought.
struct FreeStmt {
    void operator()(SQLHSTMT h) const noexcept { SQLFreeHandle(SQL_HANDLE_STMT, h); }
};
using StmtHandle = std::unique_ptr<void, FreeStmt>;

/// The statement text being sent (afterwards: the last one sent).
class StatementBuffer {
public:
    const std::string& text() const { return text_; }
    SQLCHAR* sql() { return reinterpret_cast<SQLCHAR*>(text_.data()); }
    std::string& mutable_text() { return text_; }

private:
    std::string text_;
};

/// The canteen host record, 105 bytes; the columns of the canteen table carry the same names.
struct sqlZkv321Kan {
    Field<3> KanPor;
    Field<3> KanFcd;
    Field<9> KanDtm;
    Field<5> KanUhr;
    Field<4> KanMsk;
    Field<14> KanAwn;
    Field<67> KanDat;
};
static_assert(sizeof(sqlZkv321Kan) == 105);

/// Everything the database operations share, once for the whole run.
struct DbState {
    // Environment and connection live until the process ends: the run never disconnects, so these
    // are plain handles without an owner.  ConnectDatabase replaces them cleanly.
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;

    DiagnosticRecord diag;
    StatementBuffer statement;
    Field<32> current_schema;   // at most 31 characters
    std::int32_t fetch_status = 0;
    SQLLEN indicator = -1;      // the one length/indicator of every column binding

    StmtHandle asw_cursor;      // the open badge cursor; empty means closed

    // Column buffers that live across calls.
    Field<9> asw_pnr;
    Field<6> asw_liz;
    Field<6> asw_mnd;
};

// --- Connection, diagnostics, schema -------------------------------------------------------------

/// Connects to data source `dsn` as `login` with `password` (each at most 23 characters; longer
/// values are refused with -1 before any ODBC call).  Frees (and disconnects) a connection held
/// from an earlier call first.  0 connected, -1 not connected (diag holds the connection's first
/// diagnostic record when the driver refused).
int ConnectDatabase(DbState& db, std::string_view login, std::string_view password,
                    std::string_view dsn);

/// Zeroes `record`, then reads the first diagnostic record of the handle into it.  With no record
/// on the handle it stays zeroed (empty texts, native error 0).
void CaptureDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, DiagnosticRecord& record);

/// Makes `schema` the current schema (at most 31 characters).  Always 0.
int SelectSchema(DbState& db, std::string_view schema);

// --- Statement convention ------------------------------------------------------------------------

/// Formats `statement_template` into db.statement, replacing each "%s" by the next value in order.
/// A value that stands between single quotes in the template has its single quotes doubled, so no
/// value can end the quoted text.  A value that stands unquoted (a schema prefix) must be a plain
/// identifier (letters, digits, _ @ # $, or empty); otherwise nothing is formatted and false comes
/// back.
bool FormatStatement(DbState& db, std::string_view statement_template,
                     std::initializer_list<std::string_view> values);

/// Allocates a statement handle on the connection.  Empty on failure.
StmtHandle AllocateStatement(DbState& db);

/// SQLExecDirect of db.statement on `stmt`.  Returns 0 unless it returned SQL_ERROR; then
/// captures the statement's diagnostics into db.diag and returns the native error code, or -1
/// when that code is 0 or there was no diagnostic record (a lost connection looks like that).
int ExecuteStatement(DbState& db, SQLHSTMT stmt);

// --- Badge cursor --------------------------------------------------------------------------------

/// Opens the badge cursor for `badge_number` (trailing white space ignored) as of `booking_date`
/// (DDMMYY).  0 open, -1 no handle, otherwise the native error code (cursor closed).
int OpenAswCursor(DbState& db, std::string_view badge_number, std::string_view booking_date);
/// Fetches the first row into the three caller buffers, trailing blanks removed; a NULL column
/// arrives as the empty text.  0 a row, 100 no row, -1 no cursor or the fetch failed.
int FetchAswCursor(DbState& db, Field<9>& personnel_number, Field<6>& licence, Field<6>& client);
/// Closes the cursor if open.  Always 0.
int CloseAswCursor(DbState& db);

// --- Canteen insert ------------------------------------------------------------------------------

/// Inserts one row into <current schema>.Zkv321Kan.  0 inserted, -1 no handle, otherwise the
/// native error code.  The result is also stored in db.fetch_status (except for -1).
int InsertCanteenBooking(DbState& db, const sqlZkv321Kan& record);

// --- Master-data lookups -------------------------------------------------------------------------

/// Client schema (MndSch) of licence and client; "DBO" comes back as "VORKANDEL".
int ReadClientSchema(DbState& db, Field<21>& schema_name, std::string_view licence,
                     std::string_view client);
/// Function type and code of terminal and message type.  Prints the trace "BchFkt:!%s! BchFcd:%s!"
/// (no line end) to `console` and writes bch_fkt and bch_fcd whenever the statement executed,
/// also when no row was read (then five and three blanks).
int ReadMessageType(DbState& db, std::FILE* console, Field<6>& bch_fkt, Field<4>& bch_fcd,
                    std::string_view terminal_name, std::string_view message_type);
/// Cost centre of the reader at the terminal, trailing blanks removed.
int ReadReaderCostCentre(DbState& db, Field<31>& cost_centre, std::string_view terminal_name,
                         std::string_view reader_id);
/// Cost-centre relation and cost centre of the person's assignment valid on booking_date (DDMMYY).
int ReadPersonnelAssignment(DbState& db, std::int32_t& relation, Field<31>& cost_centre,
                            std::string_view personnel_number, std::string_view booking_date);
/// Cost-centre relation of the function code; trims function_code in place first, whatever the
/// outcome.
int ReadCostCentreRelation(DbState& db, std::int32_t& relation, Field<4>& function_code);

}  // namespace snp
