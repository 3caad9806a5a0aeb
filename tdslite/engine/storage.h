// Tables in SQLite: the catalog of schemas and tables (kept in SQLite and mirrored in memory),
// one SQLite table per table with text columns under the TSQL collation, a unique index for the
// primary key, and a cache of prepared SQLite statements.
//
// SQLite names are generated (t<id>, c<ordinal>), so table and column names as written never
// reach SQLite's SQL text; values always travel as bound parameters.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/engine.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tdslite::detail {

struct ColumnDef {
    std::string name;  // as created
    std::string key;   // IdentifierKey(name)
    SqlType type = SqlType::Int;
    std::uint16_t length = 0;
    bool nullable = true;
};

struct TableDef {
    std::int64_t id = 0;
    std::string schema;    // as created
    std::string name;      // as created
    std::string key_name;  // primary key constraint name ("" without a primary key)
    std::vector<ColumnDef> columns;
    std::vector<int> key;  // column positions of the primary key, in key order
    std::string sqlite_name;

    /// Position of a column by name (any case), -1 when there is none.
    int FindColumn(std::string_view name) const;
};

/// A row read from a table: SQLite rowid (insertion order) and one value per column.
struct Row {
    std::int64_t rowid = 0;
    std::vector<Value> values;
};

/// One equality condition handed to SQLite: column = value (value already of the column's kind).
struct KeyCondition {
    int column = 0;
    Value value;
};

class Storage {
  public:
    /// Opens or creates the database; an empty path means in memory.  Null with *error set on
    /// failure.
    static std::unique_ptr<Storage> Open(const std::string& path, std::string* error);
    ~Storage();
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;

    // ---- catalog ------------------------------------------------------------------------
    /// The schema's name as created, or null.
    const std::string* FindSchema(std::string_view name) const;
    const TableDef* FindTable(std::string_view schema, std::string_view table) const;
    bool CreateSchema(const std::string& name);
    bool CreateTable(TableDef def);
    bool DropTable(const TableDef& table);

    // ---- data ---------------------------------------------------------------------------
    /// Reads the rows of a table that satisfy all conditions (a superset filter for the caller's
    /// full condition), in insertion order, appending them to rows.
    bool ReadRows(const TableDef& table, const std::vector<KeyCondition>& conditions,
                  std::vector<Row>& rows);
    enum class WriteResult : std::uint8_t { Ok, DuplicateKey, Failed };
    WriteResult InsertRow(const TableDef& table, const std::vector<Value>& values);
    WriteResult UpdateRow(const TableDef& table, std::int64_t rowid,
                          const std::vector<Value>& values);
    bool DeleteRow(const TableDef& table, std::int64_t rowid);

    bool Begin();
    bool Commit();
    void Rollback();

    /// SQLite's last error text, for a storage failure message.
    std::string LastError() const;

  private:
    Storage() = default;
    bool Exec(const char* sql);
    bool LoadCatalog();
    /// A cached prepared statement, reset and with bindings cleared; null on failure.
    sqlite3_stmt* Prepare(const std::string& sql);
    void ClearCache();
    void Bind(sqlite3_stmt* stmt, int index, const Value& value);
    void Decode(sqlite3_stmt* stmt, int index, const ColumnDef& column, Value& out);

    sqlite3* db_ = nullptr;
    std::map<std::string, std::string> schemas_;  // key -> name as created
    std::map<std::pair<std::string, std::string>, std::unique_ptr<TableDef>> tables_;
    std::unordered_map<std::string, sqlite3_stmt*> cache_;
};

}  // namespace tdslite::detail
