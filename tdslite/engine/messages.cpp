#include "engine/messages.h"

namespace tdslite::detail::msg {
namespace {

std::string Quote(std::string_view s) {
    return "'" + std::string(s) + "'";
}

}  // namespace

Message Make(std::int32_t number, std::uint8_t severity, std::uint8_t state, std::string text) {
    Message m;
    m.number = number;
    m.severity = severity;
    m.state = state;
    m.text = std::move(text);
    return m;
}

Message SyntaxNear(std::string_view token) {
    return Make(102, 15, 1, "Incorrect syntax near " + Quote(token) + ".");
}
Message SyntaxNearKeyword(std::string_view keyword) {
    return Make(156, 15, 1, "Incorrect syntax near the keyword " + Quote(keyword) + ".");
}
Message IdentifierTooLong(std::string_view start) {
    return Make(103, 15, 4,
                "The identifier that starts with " + Quote(start.substr(0, 128)) +
                    " is too long. Maximum length is 128.");
}
Message UnclosedQuote(std::string_view rest) {
    return Make(105, 15, 1,
                "Unclosed quotation mark after the character string " + Quote(rest) + ".");
}
Message MissingEndComment() {
    return Make(113, 15, 1, "Missing end comment mark '*/'.");
}
Message TooManyPrefixes(std::string_view name) {
    return Make(117, 15, 1,
                "The object name " + Quote(name) +
                    " contains more than the maximum number of prefixes. The maximum is 3.");
}
Message NestedTooDeeply() {
    return Make(
        191, 15, 1,
        "Some part of your SQL statement is nested too deeply. Rewrite the query or break it "
        "up into smaller queries.");
}
Message NotBuiltinFunction(std::string_view name) {
    return Make(195, 15, 10, Quote(name) + " is not a recognized built-in function name.");
}
Message WrongArgumentCount(std::string_view name, int count) {
    return Make(174, 15, 1,
                "The " + std::string(name) + " function requires " + std::to_string(count) +
                    " argument(s).");
}
Message InvalidColumn(std::string_view name) {
    return Make(207, 16, 1, "Invalid column name " + Quote(name) + ".");
}
Message InvalidObject(std::string_view name) {
    return Make(208, 16, 1, "Invalid object name " + Quote(name) + ".");
}
Message AmbiguousColumn(std::string_view name) {
    return Make(209, 16, 1, "Ambiguous column name " + Quote(name) + ".");
}
Message MultiPartNotBound(std::string_view name) {
    return Make(4104, 16, 1,
                "The multi-part identifier \"" + std::string(name) + "\" could not be bound.");
}
Message NonBooleanCondition(std::string_view near) {
    return Make(4145, 15, 1,
                "An expression of non-boolean type specified in a context where a condition is "
                "expected, near " +
                    Quote(near) + ".");
}
Message ConversionDateTime() {
    return Make(241, 16, 1,
                "Conversion failed when converting date and/or time from character string.");
}
Message DateTimeOutOfRange() {
    return Make(242, 16, 3,
                "The conversion of a varchar data type to a datetime data type resulted in an "
                "out-of-range value.");
}
Message ConversionToInt(std::string_view value, std::string_view type) {
    return Make(245, 16, 1,
                "Conversion failed when converting the varchar value " + Quote(value) +
                    " to data type " + std::string(type) + ".");
}
Message IntOverflowFromText(std::string_view value) {
    return Make(
        248, 16, 1,
        "The conversion of the varchar value " + Quote(value) + " overflowed an int column.");
}
Message SmallIntOverflowFromText(std::string_view value) {
    return Make(244, 16, 1,
                "The conversion of the varchar value " + Quote(value) +
                    " overflowed an INT2 column. Use a larger integer column.");
}
Message SmallIntOverflow(std::int64_t value) {
    return Make(
        220, 16, 1,
        "Arithmetic overflow error for data type smallint, value = " + std::to_string(value) + ".");
}
Message ArithmeticOverflow(std::string_view from, std::string_view to) {
    return Make(8115, 16, 2,
                "Arithmetic overflow error converting " + std::string(from) + " to data type " +
                    std::string(to) + ".");
}
Message DivideByZero() {
    return Make(8134, 16, 1, "Divide by zero error encountered.");
}
Message OperandInvalid(std::string_view type, std::string_view op) {
    return Make(8117, 16, 1,
                "Operand data type " + std::string(type) + " is invalid for " + std::string(op) +
                    " operator.");
}
Message ImplicitConversion(std::string_view from, std::string_view to) {
    return Make(257, 16, 3,
                "Implicit conversion from data type " + std::string(from) + " to " +
                    std::string(to) +
                    " is not allowed. Use the CONVERT function to run this query.");
}
Message ConvertToFloat(std::string_view from) {
    return Make(8114, 16, 5, "Error converting data type " + std::string(from) + " to float.");
}
Message InvalidStyle(int style, bool from_datetime) {
    if (from_datetime) {
        return Make(281, 16, 1,
                    std::to_string(style) +
                        " is not a valid style number when converting from datetime to a character "
                        "string.");
    }
    return Make(9809, 16, 1,
                "The style " + std::to_string(style) +
                    " is not supported for conversions from varchar to datetime.");
}
Message SubqueryManyRows() {
    return Make(512, 16, 1,
                "Subquery returned more than 1 value. This is not permitted when the subquery "
                "follows =, !=, <, <= , >, >= or when the subquery is used as an expression.");
}
Message SubqueryManyColumns() {
    return Make(116, 16, 1,
                "Only one expression can be specified in the select list when the subquery is not "
                "introduced with EXISTS.");
}
Message OrderByInSubquery() {
    return Make(1033, 15, 1,
                "The ORDER BY clause is invalid in views, inline functions, derived tables, "
                "subqueries, and common table expressions, unless TOP, OFFSET or FOR XML is also "
                "specified.");
}
Message NotInGroupBy(std::string_view column) {
    return Make(8120, 16, 1,
                "Column " + Quote(column) +
                    " is invalid in the select list because it is not contained in either an "
                    "aggregate function or the GROUP BY clause.");
}
Message NullNotAllowed(std::string_view column, std::string_view table, bool update) {
    return Make(515, 16, 2,
                "Cannot insert the value NULL into column " + Quote(column) + ", table " +
                    Quote(table) + "; column does not allow nulls. " +
                    (update ? "UPDATE" : "INSERT") + " fails.");
}
Message DuplicateKey(std::string_view constraint, std::string_view object,
                     std::string_view values) {
    return Make(2627, 14, 1,
                "Violation of PRIMARY KEY constraint " + Quote(constraint) +
                    ". Cannot insert duplicate key in object " + Quote(object) +
                    ". The duplicate key value is (" + std::string(values) + ").");
}
Message Truncated() {
    return Make(8152, 16, 14, "String or binary data would be truncated.");
}
Message StatementTerminated() {
    return Make(3621, 0, 0, "The statement has been terminated.");
}
Message MoreColumnsThanValues() {
    return Make(
        109, 15, 1,
        "There are more columns in the INSERT statement than values specified in the VALUES "
        "clause. The number of values in the VALUES clause must match the number of columns "
        "specified in the INSERT statement.");
}
Message FewerColumnsThanValues() {
    return Make(
        110, 15, 1,
        "There are fewer columns in the INSERT statement than values specified in the VALUES "
        "clause. The number of values in the VALUES clause must match the number of columns "
        "specified in the INSERT statement.");
}
Message ColumnCountMismatch() {
    return Make(213, 16, 1,
                "Column name or number of supplied values does not match table definition.");
}
Message RowValueCountsDiffer() {
    return Make(
        10709, 15, 1,
        "The number of columns for each row in a table value constructor must be the same.");
}
Message ColumnSpecifiedTwice(std::string_view column) {
    return Make(264, 16, 1,
                "The column name " + Quote(column) +
                    " is specified more than once in the SET clause or column list of an INSERT. A "
                    "column cannot be assigned more than one value in the same clause. Modify the "
                    "clause to make sure that a column is updated only once. If this statement "
                    "updates or inserts columns into a view, column aliasing can conceal the "
                    "duplication in your code.");
}
Message ObjectExists(std::string_view name) {
    return Make(2714, 16, 6,
                "There is already an object named " + Quote(name) + " in the database.");
}
Message SchemaMissing(std::string_view name) {
    return Make(2760, 16, 1,
                "The specified schema name \"" + std::string(name) +
                    "\" either does not exist or you do not have permission to use it.");
}
Message DuplicateColumnName(std::string_view column, std::string_view table) {
    return Make(2705, 16, 3,
                "Column names in each table must be unique. Column name " + Quote(column) +
                    " in table " + Quote(table) + " is specified more than once.");
}
Message UnknownType(int column_number, std::string_view type) {
    return Make(2715, 16, 6,
                "Column, parameter, or variable #" + std::to_string(column_number) +
                    ": Cannot find data type " + std::string(type) + ".");
}
Message SizeTooBig(int size, std::string_view column) {
    return Make(131, 15, 3,
                "The size (" + std::to_string(size) + ") given to the column " + Quote(column) +
                    " exceeds the maximum allowed for any data type (8000).");
}
Message ZeroLength(int line) {
    return Make(
        1001, 15, 1,
        "Line " + std::to_string(line) + ": Length or precision 0 is invalid.");
}
Message MultiplePrimaryKeys(std::string_view table) {
    return Make(8110, 16, 0,
                "Cannot add multiple PRIMARY KEY constraints to table " + Quote(table) + ".");
}
Message NullablePrimaryKey(std::string_view table) {
    return Make(
        8111, 16, 1,
        "Cannot define PRIMARY KEY constraint on nullable column in table " + Quote(table) + ".");
}
Message PrimaryKeyColumnMissing(std::string_view column) {
    return Make(1911, 16, 1,
                "Column name " + Quote(column) + " does not exist in the target table or view.");
}
Message TooManyColumns(std::string_view column, std::string_view table) {
    return Make(1702, 16, 1,
                "CREATE TABLE failed because column " + Quote(column) + " in table " +
                    Quote(table) + " exceeds the maximum of 1024 columns.");
}
Message CannotDropTable(std::string_view name) {
    return Make(3701, 11, 5,
                "Cannot drop the table " + Quote(name) +
                    ", because it does not exist or you do not have permission.");
}
Message ResourcesExhausted() {
    return Make(8623, 16, 1,
                "The query processor ran out of internal resources and could not produce a query "
                "plan. This is a rare event and only expected for extremely complex queries or "
                "queries that reference a very large number of tables or partitions. Please "
                "simplify the query. If you believe you have received this message in error, "
                "contact Customer Support Services for more information.");
}
Message OutOfMemory() {
    return Make(
        701, 17, 123,
        "There is insufficient system memory in resource pool 'default' to run this query.");
}
Message MustDeclareVariable(std::string_view name) {
    return Make(137, 15, 2, "Must declare the scalar variable \"" + std::string(name) + "\".");
}

Message StorageFailure(std::string_view detail) {
    return Make(50000, 16, 1, "Storage failure: " + std::string(detail));
}

}  // namespace tdslite::detail::msg
