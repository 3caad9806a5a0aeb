// The master-data lookups: client schema, message type, reader cost centre, personnel assignment
// and cost-centre relation.  Each reads at most the first row of one statement; a lookup that
// reads no row leaves its outputs as the caller set them, except ReadMessageType.
#include <cstdio>

#include "db/database.h"
#include "db/query.h"
#include "text/text.h"

namespace snp {

namespace {

constexpr std::string_view kClientSchemaSql =
    "SELECT  MndSch  FROM ZENTRALE.Zkv112Mnd  WHERE MndLiz= '%s' AND   MndNum= '%s' AND   "
    "MndKon = 0 ";

constexpr std::string_view kMessageTypeSql =
    "SELECT str(FcdTyp, len(FcdTyp)), TtaFcd + replicate(' ', 3-datalength(TtaFcd)),  "
    "COALESCE(FcdTft,0)  FROM   ZENTRALE.O2108Tta, %s.Zkv131Fcd  WHERE  TtaNum = (SELECT TsmTas  "
    "FROM ZENTRALE.Zkv114Tsm  WHERE TsmNam = '%s')  AND   TtaPos = '%s'  AND  FcdNum = TtaFcd ";

// The quoted default holds 30 blanks.
constexpr std::string_view kReaderCostCentreSql =
    "SELECT COALESCE(ZlsKst, '                              ') FROM Zentrale.Zkv401Zls  "
    "WHERE ZlsTrm= '%s' AND  ZlsLes= '%s' ";

constexpr std::string_view kPersonnelAssignmentSql =
    "SELECT  COALESCE(ZuoKsb, 0), COALESCE(ZuoKst, '')  FROM   %s.Zkv311Zuo  WHERE  ZuoPnr = '%s'  "
    "AND  (convert(datetime, ZuoGvo, 4) <= convert(datetime, '%s', 4)  AND  "
    "(convert(datetime, ZuoGbi, 4) >= convert(datetime, '%s', 4)  OR  ZuoGbi is null))";

constexpr std::string_view kCostCentreRelationSql =
    "SELECT  COALESCE(FcdKsb, 0)  FROM %s.Zkv131Fcd  WHERE FcdNum = '%s' ";

}  // namespace

int ReadClientSchema(DbState& db, Field<21>& schema_name, std::string_view licence,
                     std::string_view client) {
    Field<21> fetched;
    SQLLEN indicator = SQL_NULL_DATA;
    const int rc =
        QueryFirstRow(db, kClientSchemaSql, {licence, client}, {TextColumn(fetched, indicator)});
    if (rc != 0) return rc;
    if (indicator == SQL_NULL_DATA) fetched.clear();  // a client without schema: the empty text
    TrimRight(fetched);
    schema_name.assign(fetched == "DBO" ? std::string_view("VORKANDEL") : fetched.view());
    return 0;
}

int ReadMessageType(DbState& db, std::FILE* console, Field<6>& bch_fkt, Field<4>& bch_fcd,
                    std::string_view terminal_name, std::string_view message_type) {
    // What the record receives when no row is read.
    Field<6> function_type;
    function_type.fill_text(5, ' ');
    Field<4> function_code;
    function_code.fill_text(3, ' ');

    Field<6> fetched_type;
    Field<4> fetched_code;
    std::int32_t text_number = 0;  // selected, never used
    SQLLEN indicators[3] = {};
    QueryStage stage = QueryStage::NotExecuted;
    const int rc = QueryFirstRow(
        db, kMessageTypeSql, {db.current_schema.view(), terminal_name, message_type},
        {TextColumn(fetched_type, indicators[0]), TextColumn(fetched_code, indicators[1]),
         IntColumn(text_number, indicators[2])},
        &stage);
    if (stage != QueryStage::Executed) return rc;  // nothing printed, record untouched

    if (rc == 0) {
        // A NULL function type counts as no digits (00000); a NULL code keeps its three blanks.
        function_type.assign(indicators[0] == SQL_NULL_DATA ? std::string_view()
                                                            : fetched_type.view());
        FormatFunctionType(function_type);
        if (indicators[1] != SQL_NULL_DATA) function_code.assign(fetched_code.view());
    }
    std::fprintf(console, "BchFkt:!%s! BchFcd:%s!", function_type.data(), function_code.data());
    bch_fkt.assign(function_type.view());
    bch_fcd.assign(function_code.view());
    return rc;
}

int ReadReaderCostCentre(DbState& db, Field<31>& cost_centre, std::string_view terminal_name,
                         std::string_view reader_id) {
    Field<31> fetched;
    SQLLEN indicator = SQL_NULL_DATA;
    const int rc = QueryFirstRow(db, kReaderCostCentreSql, {terminal_name, reader_id},
                                 {TextColumn(fetched, indicator)});
    if (rc != 0) return rc;
    if (indicator == SQL_NULL_DATA) fetched.clear();
    TrimRight(fetched);
    cost_centre.assign(fetched.view());
    return 0;
}

int ReadPersonnelAssignment(DbState& db, std::int32_t& relation, Field<31>& cost_centre,
                            std::string_view personnel_number, std::string_view booking_date) {
    const Field<9> date = DottedDate(booking_date);
    std::int32_t fetched_relation = 0;
    Field<31> fetched_cost_centre;
    SQLLEN indicators[2] = {};
    const int rc =
        QueryFirstRow(db, kPersonnelAssignmentSql,
                      {db.current_schema.view(), personnel_number, date.view(), date.view()},
                      {IntColumn(fetched_relation, indicators[0]),
                       TextColumn(fetched_cost_centre, indicators[1])});
    if (rc != 0) return rc;
    relation = indicators[0] == SQL_NULL_DATA ? 0 : fetched_relation;
    // Delivered as the table holds it, trailing blanks included.
    cost_centre.assign(indicators[1] == SQL_NULL_DATA ? std::string_view()
                                                      : fetched_cost_centre.view());
    return 0;
}

int ReadCostCentreRelation(DbState& db, std::int32_t& relation, Field<4>& function_code) {
    TrimRight(function_code);  // the caller's field is shortened whatever the outcome
    std::int32_t fetched = 0;
    SQLLEN indicator = SQL_NULL_DATA;
    const int rc =
        QueryFirstRow(db, kCostCentreRelationSql, {db.current_schema.view(), function_code.view()},
                      {IntColumn(fetched, indicator)});
    if (rc != 0) return rc;
    relation = indicator == SQL_NULL_DATA ? 0 : fetched;
    return 0;
}

}  // namespace snp
