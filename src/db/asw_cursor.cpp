// The badge cursor: badge number and booking date to personnel number, licence and client.
//
// Unlike the lookups, the cursor keeps its statement handle open between OpenAswCursor and
// CloseAswCursor, and it asks for a non-scrollable cursor with lock concurrency, which makes the
// driver open a server cursor for the badge query.
#include <sql.h>
#include <sqlext.h>

#include "db/database.h"
#include "db/query.h"
#include "text/text.h"

namespace snp {

namespace {

// The validity bounds are compared as whole dates, yyyymmdd (style 112), so that a badge row
// valid since one century still applies to bookings of the next.
constexpr std::string_view kAswCursorSql =
    "SELECT  AswPnr, AswLiz, AswMnd  FROM ZENTRALE.Zkv301Asw  WHERE AswNum = '%s'  AND  "
    "( convert(varchar(8), AswGvo, 112) <=   convert( varchar(8),convert(datetime, '%s', 4), 112)"
    "     and  ( convert(varchar(8), AswGbi, 112) >=    "
    "convert(varchar(8),convert(datetime, '%s', 4), 112)     or  AswGbi is Null ))";

SQLPOINTER AttributeValue(SQLULEN value) {
    return reinterpret_cast<SQLPOINTER>(value);
}

/// A fetched column as the caller gets it: empty when NULL, trailing blanks removed.
template <std::size_t N>
void HandOut(Field<N>& column, SQLLEN indicator, Field<N>& destination) {
    if (indicator == SQL_NULL_DATA) column.clear();
    TrimRight(column);
    destination.assign(column.view());
}

}  // namespace

int OpenAswCursor(DbState& db, std::string_view badge_number, std::string_view booking_date) {
    Field<14> badge;  // the caller's badge number is never changed
    badge.assign(badge_number);
    TrimRight(badge);
    const Field<9> date = DottedDate(booking_date);

    db.asw_cursor.reset();  // a cursor still open is freed, never leaked
    StmtHandle stmt = AllocateStatement(db);
    if (!stmt) return -1;
    SQLSetStmtAttr(stmt.get(), SQL_ATTR_CURSOR_SCROLLABLE, AttributeValue(SQL_NONSCROLLABLE),
                   SQL_IS_INTEGER);
    SQLSetStmtAttr(stmt.get(), SQL_ATTR_CONCURRENCY, AttributeValue(SQL_CONCUR_LOCK),
                   SQL_IS_INTEGER);
    if (!FormatStatementOrRefuse(db, kAswCursorSql, {badge.view(), date.view(), date.view()})) {
        return -1;
    }
    if (const int rc = ExecuteStatement(db, stmt.get()); rc != 0) return rc;  // handle freed
    db.asw_cursor = std::move(stmt);
    return 0;
}

int FetchAswCursor(DbState& db, Field<9>& personnel_number, Field<6>& licence, Field<6>& client) {
    db.fetch_status = -1;
    if (!db.asw_cursor) return -1;

    // Each column has an indicator of its own: a NULL must come out as the empty text, never as
    // what an earlier booking left in the column buffer.
    SQLLEN indicators[3] = {SQL_NULL_DATA, SQL_NULL_DATA, SQL_NULL_DATA};
    SQLHSTMT stmt = db.asw_cursor.get();
    SQLBindCol(stmt, 1, SQL_C_CHAR, db.asw_pnr.data(), Field<9>::size, &indicators[0]);
    SQLBindCol(stmt, 2, SQL_C_CHAR, db.asw_liz.data(), Field<6>::size, &indicators[1]);
    SQLBindCol(stmt, 3, SQL_C_CHAR, db.asw_mnd.data(), Field<6>::size, &indicators[2]);
    const SQLRETURN rc = SQLFetch(stmt);
    // The bindings name locals; nothing fetches on this handle without binding again.
    SQLFreeStmt(stmt, SQL_UNBIND);

    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        db.fetch_status = 0;
        HandOut(db.asw_pnr, indicators[0], personnel_number);
        HandOut(db.asw_liz, indicators[1], licence);
        HandOut(db.asw_mnd, indicators[2], client);
        return 0;
    }
    if (rc == SQL_NO_DATA) {
        db.fetch_status = SQL_NO_DATA;
        return SQL_NO_DATA;
    }
    return -1;
}

int CloseAswCursor(DbState& db) {
    db.asw_cursor.reset();
    return 0;
}

}  // namespace snp
