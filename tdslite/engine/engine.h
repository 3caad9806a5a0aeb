// tdslite's T-SQL engine: evaluates the T-SQL subset the converter and its fixtures use, with
// SQL Server's semantics, over tables kept in SQLite.
//
// Texts are single bytes in code page 1252 throughout (the protocol layer converts from and to
// UCS-2).  The engine knows nothing of sockets or TDS.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tdslite {

enum class SqlType : std::uint8_t { Int, SmallInt, Char, VarChar, DateTime };

/// A column of a result set as it goes into COLMETADATA.
struct ColumnInfo {
    std::string name;        // empty for expression columns
    SqlType type = SqlType::VarChar;
    std::uint16_t length = 0;  // characters (= bytes) for Char and VarChar; unused otherwise
    bool nullable = true;
};

/// datetime as SQL Server stores it: days since 1900-01-01 and 1/300-second ticks since midnight.
struct DateTimeValue {
    std::int32_t days = 0;
    std::uint32_t ticks = 0;
};

struct Value {
    enum class Kind : std::uint8_t { Null, Int, Text, DateTime };
    Kind kind = Kind::Null;
    std::int64_t integer = 0;
    std::string text;  // cp1252 bytes; char(n) values already blank-padded to n
    DateTimeValue datetime;

    static Value Null() { return {}; }
    static Value Int(std::int64_t v) { Value x; x.kind = Kind::Int; x.integer = v; return x; }
    static Value Text(std::string v) { Value x; x.kind = Kind::Text; x.text = std::move(v); return x; }
    static Value Date(DateTimeValue v) { Value x; x.kind = Kind::DateTime; x.datetime = v; return x; }
};

/// An error (severity >= 11) or informational message (severity <= 10) as SQL Server sends it.
struct Message {
    std::int32_t number = 0;
    std::uint8_t state = 1;
    std::uint8_t severity = 16;
    std::string text;
    std::int32_t line = 1;  // line of the batch the statement starts on
};

/// The outcome of one statement of a batch.
struct StatementResult {
    std::vector<Message> messages;  // sent before any result set
    bool failed = false;            // an error of severity >= 11 ended the statement
    bool has_result_set = false;    // a SELECT that ran: columns present, rows possibly none
    std::vector<ColumnInfo> columns;
    std::vector<std::vector<Value>> rows;
    bool count_valid = false;       // INSERT/UPDATE/DELETE/SELECT: row_count is meaningful
    std::int64_t row_count = 0;
};

class Engine {
public:
    /// Opens (creating when missing) the SQLite file; an empty path means an in-memory database.
    /// Null, with *error set, when SQLite cannot open it.
    static std::unique_ptr<Engine> Open(const std::string& sqlite_path, std::string* error);
    ~Engine();

    /// Runs one batch of one or more statements.  A batch that does not parse runs no statement
    /// and answers one failed result with the syntax error.  Safe to call from several threads:
    /// batches are serialised.
    std::vector<StatementResult> ExecuteBatch(std::string_view batch);
    /// The same, for a session whose current database is `database`: messages that print a
    /// table with its database (515) name it.  The form above uses "master".
    std::vector<StatementResult> ExecuteBatch(std::string_view batch, std::string_view database);

private:
    Engine() = default;
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::mutex mutex_;
};

}  // namespace tdslite
