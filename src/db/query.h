// Pieces the converter's statements share: the dotted date every date comparison uses, column
// bindings, and the one-row query that the lookups and the formatting query of the output line
// run.
//
// A one-row query follows the statement life of database.h: allocate, format, execute, bind,
// fetch once, free, and only then look at what the fetch brought.  Every column is bound with an
// indicator of its own, so that a NULL column can be told from a value; the caller reads the
// indicators after the fetch.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "db/database.h"
#include "text/field.h"

namespace snp {

/// A booking date DDMMYY as DD.MM.YY: characters 1-2, ".", 3-4, ".", 5-6, each pair taken by
/// position as it stands, nothing validated.  A shorter date gives shorter pairs.
Field<9> DottedDate(std::string_view ddmmyy);

/// One result column: where the driver puts it and where it says whether it was NULL.
struct ColumnBinding {
    SQLSMALLINT c_type;
    SQLPOINTER buffer;
    SQLLEN buffer_length;  // the buffer's full size, terminator included
    SQLLEN* indicator;
};

/// A character column into a field; the driver cuts a longer value to N-1 characters.
template <std::size_t N>
ColumnBinding TextColumn(Field<N>& field, SQLLEN& indicator) {
    return {SQL_C_CHAR, field.data(), static_cast<SQLLEN>(N), &indicator};
}

/// A 32-bit integer column.
inline ColumnBinding IntColumn(std::int32_t& value, SQLLEN& indicator) {
    return {SQL_C_LONG, &value, static_cast<SQLLEN>(sizeof value), &indicator};
}

/// Whether a one-row query got as far as executing its statement.
enum class QueryStage { NotExecuted, Executed };

/// Runs `statement_template` with `values` on a fresh statement handle and reads its first row
/// into `columns`.  0 a row was read (SQL_SUCCESS or SQL_SUCCESS_WITH_INFO); 100 no row; -1 no
/// statement handle, or a value that cannot stand in the statement (see RefuseStatement); the
/// result of ExecuteStatement when the execution failed; otherwise the fetch's own code.  The
/// fetch result is kept in db.fetch_status.  `stage`, when given, tells whether the statement
/// was executed.
int QueryFirstRow(DbState& db, std::string_view statement_template,
                  std::initializer_list<std::string_view> values,
                  std::initializer_list<ColumnBinding> columns, QueryStage* stage = nullptr);

/// Formats the statement like FormatStatement.  When a value cannot stand in it (the only
/// unquoted value of any statement is the current schema, which must be a plain identifier),
/// nothing is sent: db.diag is filled with a record naming the schema, so that the failure
/// report shows why, and false comes back.
bool FormatStatementOrRefuse(DbState& db, std::string_view statement_template,
                             std::initializer_list<std::string_view> values);

/// The function type of a message type as the output line carries it, in place: trailing blanks
/// removed, then filled up to five characters with leading zeros (7 -> 00007, empty -> 00000; a
/// text of five characters stays as it is), and "000-9" becomes "00000".
void FormatFunctionType(Field<6>& function_type);

}  // namespace snp
