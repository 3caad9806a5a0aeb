// The run's single ODBC connection, diagnostics capture, the current schema and the statement
// convention (format, allocate, execute) that every query of the converter follows.
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <string_view>

#include "db/database.h"
#include "text/field.h"

namespace snp {

namespace {

SQLCHAR* AsSqlChar(char* text) {
    return reinterpret_cast<SQLCHAR*>(text);
}

// A schema prefix stands unquoted in a statement, so it may hold only what a plain SQL Server
// identifier holds; anything else could change the statement.
bool IsPlainIdentifier(std::string_view value) {
    for (const char c : value) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '@' || c == '#' || c == '$';
        if (!plain) return false;
    }
    return true;
}

}  // namespace

int ConnectDatabase(DbState& db, std::string_view login, std::string_view password,
                    std::string_view dsn) {
    // The three values travel in fields of 24 bytes; a longer value is refused, never cut.
    Field<24> login_field;
    Field<24> password_field;
    Field<24> dsn_field;
    if (!password_field.assign(password) || !login_field.assign(login) || !dsn_field.assign(dsn)) {
        return -1;
    }

    // A connection held from an earlier call is ended before its handles go.
    if (db.dbc != SQL_NULL_HDBC) {
        SQLDisconnect(db.dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, db.dbc);
        db.dbc = SQL_NULL_HDBC;
    }
    if (db.env != SQL_NULL_HENV) {
        SQLFreeHandle(SQL_HANDLE_ENV, db.env);
        db.env = SQL_NULL_HENV;
    }

    SQLHENV env = SQL_NULL_HENV;
    if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env) == SQL_ERROR) return -1;
    db.env = env;
    // The result is not looked at: a driver manager that refuses the version still connects.
    SQLSetEnvAttr(db.env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  SQL_IS_INTEGER);

    SQLHDBC dbc = SQL_NULL_HDBC;
    if (SQLAllocHandle(SQL_HANDLE_DBC, db.env, &dbc) == SQL_ERROR) return -1;
    db.dbc = dbc;

    const SQLRETURN rc =
        SQLConnect(db.dbc, AsSqlChar(dsn_field.data()), SQL_NTS, AsSqlChar(login_field.data()),
                   SQL_NTS, AsSqlChar(password_field.data()), SQL_NTS);
    if (rc == SQL_ERROR) {
        CaptureDiagnostics(SQL_HANDLE_DBC, db.dbc, db.diag);
        return -1;
    }
    // SQL_SUCCESS_WITH_INFO (and every other answer but SQL_ERROR) counts as connected.
    return 0;
}

void CaptureDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, DiagnosticRecord& record) {
    record.state.clear();
    record.message.clear();
    record.native_error = 0;

    SQLINTEGER native = 0;
    SQLSMALLINT text_length = 0;
    // The message buffer's own size is the limit: a longer message arrives cut to 999 characters.
    const SQLRETURN rc =
        SQLGetDiagRec(handle_type, handle, 1, AsSqlChar(record.state.data()), &native,
                      AsSqlChar(record.message.data()),
                      static_cast<SQLSMALLINT>(decltype(record.message)::size), &text_length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
        // No record on the handle.  The driver manager may still have written "00000" into the
        // state text; the record stays as zeroed as it was.
        record.state.clear();
        record.message.clear();
        return;
    }
    record.native_error = static_cast<std::int32_t>(native);
    // Keep both texts terminated inside their fields whatever the driver wrote.
    record.state.bytes.back() = '\0';
    record.message.bytes.back() = '\0';
}

int SelectSchema(DbState& db, std::string_view schema) {
    db.current_schema.assign(schema);
    return 0;
}

bool FormatStatement(DbState& db, std::string_view statement_template,
                     std::initializer_list<std::string_view> values) {
    std::string text;
    text.reserve(statement_template.size() + 64);
    auto next = values.begin();
    bool quoted = false;  // inside a '...' literal of the template

    for (std::size_t i = 0; i < statement_template.size(); ++i) {
        const char c = statement_template[i];
        if (c == '\'') {
            // A doubled quote inside a literal toggles twice, so the state stays right.
            quoted = !quoted;
            text.push_back(c);
            continue;
        }
        if (c != '%' || i + 1 == statement_template.size()) {
            text.push_back(c);
            continue;
        }
        const char directive = statement_template[i + 1];
        if (directive == '%') {  // printf's "%%"
            text.push_back('%');
            ++i;
            continue;
        }
        if (directive != 's') {
            text.push_back(c);
            continue;
        }
        ++i;
        if (next == values.end()) return false;  // more placeholders than values
        const std::string_view value = *next++;
        // A zero byte would end the statement early at SQL_NTS.
        if (value.find('\0') != std::string_view::npos) return false;
        if (quoted) {
            for (const char v : value) {
                text.push_back(v);
                if (v == '\'') text.push_back('\'');
            }
        } else {
            if (!IsPlainIdentifier(value)) return false;
            text.append(value);
        }
    }
    if (next != values.end()) return false;  // more values than placeholders

    db.statement.mutable_text() = std::move(text);
    return true;
}

StmtHandle AllocateStatement(DbState& db) {
    SQLHSTMT raw = SQL_NULL_HSTMT;
    const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, db.dbc, &raw);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return StmtHandle{};
    return StmtHandle{raw};
}

int ExecuteStatement(DbState& db, SQLHSTMT stmt) {
    if (SQLExecDirect(stmt, db.statement.sql(), SQL_NTS) != SQL_ERROR) return 0;
    CaptureDiagnostics(SQL_HANDLE_STMT, stmt, db.diag);
    // A failure without a native code of its own (a lost connection, for one) must not read as
    // success to the caller.
    return db.diag.native_error != 0 ? db.diag.native_error : -1;
}

}  // namespace snp
