// The one-row query of the lookups and the output line, and the small texts statements share.
#include "db/query.h"

#include <string>

#include "text/text.h"

namespace snp {

namespace {

/// Up to `n` characters of `text` from `pos`; fewer, or none, where the text is shorter.
std::string_view Chars(std::string_view text, std::size_t pos, std::size_t n) {
    if (pos >= text.size()) return {};
    return text.substr(pos, n);
}

}  // namespace

Field<9> DottedDate(std::string_view ddmmyy) {
    std::string dotted;
    dotted += Chars(ddmmyy, 0, 2);
    dotted += '.';
    dotted += Chars(ddmmyy, 2, 2);
    dotted += '.';
    dotted += Chars(ddmmyy, 4, 2);
    Field<9> date;
    date.assign(dotted);
    return date;
}

bool FormatStatementOrRefuse(DbState& db, std::string_view statement_template,
                             std::initializer_list<std::string_view> values) {
    if (FormatStatement(db, statement_template, values)) return true;
    // The record reads like a server's answer, so that the failure report of the booking says
    // what was wrong; no statement went out.
    db.diag = DiagnosticRecord{};
    db.diag.state.assign("42000");
    std::string message = "Schemaname '";
    message += db.current_schema.view();
    message +=
        "' ist kein g\xFC"
        "ltiger Bezeichner; die Anweisung wurde nicht gesendet.";
    db.diag.message.assign(message);
    return false;
}

int QueryFirstRow(DbState& db, std::string_view statement_template,
                  std::initializer_list<std::string_view> values,
                  std::initializer_list<ColumnBinding> columns, QueryStage* stage) {
    if (stage != nullptr) *stage = QueryStage::NotExecuted;
    {
        StmtHandle stmt = AllocateStatement(db);
        if (!stmt) return -1;  // nothing captured, nothing freed, fetch status kept
        if (!FormatStatementOrRefuse(db, statement_template, values)) return -1;
        if (const int rc = ExecuteStatement(db, stmt.get()); rc != 0) return rc;
        if (stage != nullptr) *stage = QueryStage::Executed;

        SQLUSMALLINT number = 1;
        for (const ColumnBinding& column : columns) {
            *column.indicator = SQL_NULL_DATA;
            SQLBindCol(stmt.get(), number++, column.c_type, column.buffer, column.buffer_length,
                       column.indicator);
        }
        db.fetch_status = SQLFetch(stmt.get());
    }  // freed here, before the fetch result is looked at; further rows go with the handle
    if (db.fetch_status == SQL_SUCCESS || db.fetch_status == SQL_SUCCESS_WITH_INFO) {
        db.fetch_status = 0;
    }
    return db.fetch_status;
}

void FormatFunctionType(Field<6>& function_type) {
    TrimRight(function_type);
    const std::string_view trimmed = function_type.view();
    std::string padded(Field<6>::capacity - trimmed.size(), '0');
    padded += trimmed;
    function_type.assign(padded == "000-9" ? std::string_view("00000") : std::string_view(padded));
}

}  // namespace snp
