// The canteen insert: one row into the canteen table of the current schema per canteen booking.
// It binds and fetches nothing; the connection's automatic commit makes the row permanent.
#include "db/database.h"
#include "db/query.h"

namespace snp {

namespace {

constexpr std::string_view kCanteenInsertSql =
    "INSERT  INTO %s.Zkv321Kan  (KanPor, KanFcd, KanDtm, KanUhr, KanMsk, KanAwn, KanDat)  "
    "VALUES ('%s','%s','%s','%s','%s','%s','%s')";

}  // namespace

int InsertCanteenBooking(DbState& db, const sqlZkv321Kan& record) {
    StmtHandle stmt = AllocateStatement(db);
    if (!stmt) return -1;  // fetch status unchanged
    int rc = -1;
    if (FormatStatementOrRefuse(
            db, kCanteenInsertSql,
            {db.current_schema.view(), record.KanPor.view(), record.KanFcd.view(),
             record.KanDtm.view(), record.KanUhr.view(), record.KanMsk.view(), record.KanAwn.view(),
             record.KanDat.view()})) {
        rc = ExecuteStatement(db, stmt.get());
    }
    db.fetch_status = rc;
    return rc;
}

}  // namespace snp
