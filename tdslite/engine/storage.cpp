#include "engine/storage.h"

#include <sqlite3.h>

#include <algorithm>

#include "engine/datetime.h"
#include "engine/text_rules.h"

namespace tdslite::detail {
namespace {

constexpr const char* kCollation = "TSQL";
constexpr std::size_t kMaxCachedStatements = 512;
constexpr int kIndexAfterScannedRows = 2000;

int CollationCompare(void*, int len_a, const void* a, int len_b, const void* b) {
    return CompareText(
        std::string_view(static_cast<const char*>(a), static_cast<std::size_t>(len_a)),
        std::string_view(static_cast<const char*>(b), static_cast<std::size_t>(len_b)));
}

bool IsText(SqlType t) {
    return t == SqlType::Char || t == SqlType::VarChar;
}

std::string ColumnName(std::size_t i) {
    return "c" + std::to_string(i);
}

}  // namespace

int TableDef::FindColumn(std::string_view name) const {
    const std::string key = IdentifierKey(name);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].key == key) return static_cast<int>(i);
    }
    return -1;
}

std::unique_ptr<Storage> Storage::Open(const std::string& path, std::string* error) {
    std::unique_ptr<Storage> s(new Storage());
    const std::string name = path.empty() ? ":memory:" : path;
    const int rc =
        sqlite3_open_v2(name.c_str(), &s->db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        if (error) *error = s->db_ ? sqlite3_errmsg(s->db_) : sqlite3_errstr(rc);
        return nullptr;
    }
    sqlite3_extended_result_codes(s->db_, 1);
    if (sqlite3_create_collation_v2(s->db_, kCollation, SQLITE_UTF8, nullptr, CollationCompare,
                                    nullptr) != SQLITE_OK) {
        if (error) *error = sqlite3_errmsg(s->db_);
        return nullptr;
    }
    sqlite3_busy_timeout(s->db_, 5000);
    if (!path.empty()) {
        s->Exec("PRAGMA journal_mode=WAL");
        s->Exec("PRAGMA synchronous=NORMAL");
    }
    const bool ok =
        s->Exec(
            "CREATE TABLE IF NOT EXISTS tdslite_schemas(key TEXT PRIMARY KEY, name TEXT NOT "
            "NULL)") &&
        s->Exec(
            "CREATE TABLE IF NOT EXISTS tdslite_tables(id INTEGER PRIMARY KEY AUTOINCREMENT, "
            "schema_key TEXT NOT NULL, key TEXT NOT NULL, schema_name TEXT NOT NULL, "
            "name TEXT NOT NULL, key_name TEXT NOT NULL)") &&
        s->Exec(
            "CREATE TABLE IF NOT EXISTS tdslite_columns(table_id INTEGER NOT NULL, "
            "ordinal INTEGER NOT NULL, name TEXT NOT NULL, type INTEGER NOT NULL, "
            "length INTEGER NOT NULL, nullable INTEGER NOT NULL, key_ordinal INTEGER NOT NULL, "
            "PRIMARY KEY(table_id, ordinal))") &&
        s->Exec("INSERT OR IGNORE INTO tdslite_schemas(key, name) VALUES('DBO', 'dbo')") &&
        s->LoadCatalog();
    if (!ok) {
        if (error) *error = s->LastError();
        return nullptr;
    }
    return s;
}

Storage::~Storage() {
    ClearCache();
    if (db_) sqlite3_close_v2(db_);
}

std::string Storage::LastError() const {
    return db_ ? sqlite3_errmsg(db_) : "no database";
}

bool Storage::Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void Storage::ClearCache() {
    for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
    cache_.clear();
}

sqlite3_stmt* Storage::Prepare(const std::string& sql) {
    auto it = cache_.find(sql);
    if (it != cache_.end()) {
        sqlite3_reset(it->second);
        sqlite3_clear_bindings(it->second);
        return it->second;
    }
    if (cache_.size() >= kMaxCachedStatements) ClearCache();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                           SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return nullptr;
    }
    cache_.emplace(sql, stmt);
    return stmt;
}

bool Storage::LoadCatalog() {
    schemas_.clear();
    tables_.clear();
    {
        sqlite3_stmt* st = Prepare("SELECT key, name FROM tdslite_schemas");
        if (!st) return false;
        while (sqlite3_step(st) == SQLITE_ROW) {
            auto text = [st](int i) {
                const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
                return std::string(p ? p : "",
                                   static_cast<std::size_t>(sqlite3_column_bytes(st, i)));
            };
            schemas_[text(0)] = text(1);
        }
        sqlite3_reset(st);
    }
    sqlite3_stmt* st =
        Prepare("SELECT id, schema_key, key, schema_name, name, key_name FROM tdslite_tables");
    sqlite3_stmt* cols = Prepare(
        "SELECT name, type, length, nullable, key_ordinal FROM tdslite_columns WHERE table_id = ?1 "
        "ORDER BY ordinal");
    if (!st || !cols) return false;
    while (sqlite3_step(st) == SQLITE_ROW) {
        auto text = [](sqlite3_stmt* s, int i) {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
            return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(s, i)));
        };
        auto def = std::make_unique<TableDef>();
        def->id = sqlite3_column_int64(st, 0);
        const std::string schema_key = text(st, 1);
        const std::string key = text(st, 2);
        def->schema = text(st, 3);
        def->name = text(st, 4);
        def->key_name = text(st, 5);
        def->sqlite_name = "t" + std::to_string(def->id);
        sqlite3_reset(cols);
        sqlite3_bind_int64(cols, 1, def->id);
        std::vector<std::pair<int, int>> key_positions;
        while (sqlite3_step(cols) == SQLITE_ROW) {
            ColumnDef c;
            c.name = text(cols, 0);
            c.key = IdentifierKey(c.name);
            const int type = sqlite3_column_int(cols, 1);
            if (type < 0 || type > static_cast<int>(SqlType::DateTime)) return false;
            c.type = static_cast<SqlType>(type);
            c.length = static_cast<std::uint16_t>(sqlite3_column_int(cols, 2));
            c.nullable = sqlite3_column_int(cols, 3) != 0;
            const int key_ordinal = sqlite3_column_int(cols, 4);
            if (key_ordinal > 0)
                key_positions.emplace_back(key_ordinal, static_cast<int>(def->columns.size()));
            def->columns.push_back(std::move(c));
        }
        std::sort(key_positions.begin(), key_positions.end());
        for (const auto& [ordinal, position] : key_positions) def->key.push_back(position);
        tables_[{schema_key, key}] = std::move(def);
    }
    sqlite3_reset(st);
    sqlite3_reset(cols);
    return true;
}

const std::string* Storage::FindSchema(std::string_view name) const {
    auto it = schemas_.find(IdentifierKey(name));
    return it == schemas_.end() ? nullptr : &it->second;
}

const TableDef* Storage::FindTable(std::string_view schema, std::string_view table) const {
    auto it = tables_.find({IdentifierKey(schema), IdentifierKey(table)});
    return it == tables_.end() ? nullptr : it->second.get();
}

bool Storage::Begin() {
    Rollback();  // transactions never nest: one left open by a failure is abandoned
    return Exec("BEGIN");
}
bool Storage::Commit() {
    return Exec("COMMIT");
}
void Storage::Rollback() {
    if (!sqlite3_get_autocommit(db_)) Exec("ROLLBACK");
}

bool Storage::CreateSchema(const std::string& name) {
    sqlite3_stmt* st = Prepare("INSERT INTO tdslite_schemas(key, name) VALUES(?1, ?2)");
    if (!st) return false;
    const std::string key = IdentifierKey(name);
    sqlite3_bind_text(st, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) return false;
    schemas_[key] = name;
    return true;
}

bool Storage::CreateTable(TableDef def) {
    if (!Begin()) return false;
    auto fail = [this]() {
        Rollback();
        return false;
    };
    sqlite3_stmt* st = Prepare(
        "INSERT INTO tdslite_tables(schema_key, key, schema_name, name, key_name) "
        "VALUES(?1, ?2, ?3, ?4, ?5)");
    if (!st) return fail();
    const std::string schema_key = IdentifierKey(def.schema);
    const std::string key = IdentifierKey(def.name);
    auto bind = [](sqlite3_stmt* s, int i, const std::string& v) {
        sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    };
    bind(st, 1, schema_key);
    bind(st, 2, key);
    bind(st, 3, def.schema);
    bind(st, 4, def.name);
    bind(st, 5, def.key_name);
    if (sqlite3_step(st) != SQLITE_DONE) return fail();
    sqlite3_reset(st);
    def.id = sqlite3_last_insert_rowid(db_);
    def.sqlite_name = "t" + std::to_string(def.id);

    sqlite3_stmt* col = Prepare(
        "INSERT INTO tdslite_columns(table_id, ordinal, name, type, length, nullable, key_ordinal) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    if (!col) return fail();
    std::string ddl = "CREATE TABLE " + def.sqlite_name + "(";
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        const ColumnDef& c = def.columns[i];
        int key_ordinal = 0;
        for (std::size_t k = 0; k < def.key.size(); ++k) {
            if (def.key[k] == static_cast<int>(i)) key_ordinal = static_cast<int>(k) + 1;
        }
        sqlite3_reset(col);
        sqlite3_bind_int64(col, 1, def.id);
        sqlite3_bind_int(col, 2, static_cast<int>(i));
        bind(col, 3, c.name);
        sqlite3_bind_int(col, 4, static_cast<int>(c.type));
        sqlite3_bind_int(col, 5, c.length);
        sqlite3_bind_int(col, 6, c.nullable ? 1 : 0);
        sqlite3_bind_int(col, 7, key_ordinal);
        if (sqlite3_step(col) != SQLITE_DONE) return fail();
        if (i > 0) ddl += ", ";
        ddl += ColumnName(i);
        ddl += IsText(c.type) ? " TEXT COLLATE TSQL" : " INTEGER";
    }
    sqlite3_reset(col);
    ddl += ")";
    if (!Exec(ddl.c_str())) return fail();
    if (!def.key.empty()) {
        std::string index =
            "CREATE UNIQUE INDEX " + def.sqlite_name + "_pk ON " + def.sqlite_name + "(";
        for (std::size_t k = 0; k < def.key.size(); ++k) {
            if (k > 0) index += ", ";
            index += ColumnName(static_cast<std::size_t>(def.key[k]));
        }
        index += ")";
        if (!Exec(index.c_str())) return fail();
    }
    if (!Commit()) return fail();
    ClearCache();
    auto owned = std::make_unique<TableDef>(std::move(def));
    tables_[{schema_key, key}] = std::move(owned);
    return true;
}

bool Storage::DropTable(const TableDef& table) {
    const std::int64_t id = table.id;
    const std::pair<std::string, std::string> map_key{IdentifierKey(table.schema),
                                                      IdentifierKey(table.name)};
    ClearCache();
    if (!Begin()) return false;
    const std::string drop = "DROP TABLE IF EXISTS " + table.sqlite_name;
    const std::string del_cols =
        "DELETE FROM tdslite_columns WHERE table_id = " + std::to_string(id);
    const std::string del_table = "DELETE FROM tdslite_tables WHERE id = " + std::to_string(id);
    if (!Exec(drop.c_str()) || !Exec(del_cols.c_str()) || !Exec(del_table.c_str()) || !Commit()) {
        Rollback();
        return false;
    }
    tables_.erase(map_key);
    return true;
}

void Storage::Bind(sqlite3_stmt* stmt, int index, const Value& v) {
    switch (v.kind) {
        case Value::Kind::Null:
            sqlite3_bind_null(stmt, index);
            break;
        case Value::Kind::Int:
            sqlite3_bind_int64(stmt, index, v.integer);
            break;
        case Value::Kind::Text:
            sqlite3_bind_text(stmt, index, v.text.data(), static_cast<int>(v.text.size()),
                              SQLITE_TRANSIENT);
            break;
        case Value::Kind::DateTime:
            sqlite3_bind_int64(stmt, index, DateTimeKey(v.datetime));
            break;
    }
}

void Storage::Decode(sqlite3_stmt* stmt, int index, const ColumnDef& column, Value& out) {
    const int kind = sqlite3_column_type(stmt, index);
    if (kind == SQLITE_NULL) {
        out = Value::Null();
        return;
    }
    switch (column.type) {
        case SqlType::Char:
        case SqlType::VarChar: {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
            const int n = sqlite3_column_bytes(stmt, index);
            out = Value::Text(std::string(p ? p : "", static_cast<std::size_t>(n)));
            break;
        }
        case SqlType::Int:
        case SqlType::SmallInt:
            out = Value::Int(sqlite3_column_int64(stmt, index));
            break;
        case SqlType::DateTime:
            out = Value::Date(DateTimeFromKey(sqlite3_column_int64(stmt, index)));
            break;
    }
}

bool Storage::ReadRows(const TableDef& table, const std::vector<KeyCondition>& conditions,
                       std::vector<Row>& rows) {
    std::string sql = "SELECT rowid";
    for (std::size_t i = 0; i < table.columns.size(); ++i) sql += ", " + ColumnName(i);
    sql += " FROM " + table.sqlite_name;
    for (std::size_t i = 0; i < conditions.size(); ++i) {
        sql += i == 0 ? " WHERE " : " AND ";
        sql += ColumnName(static_cast<std::size_t>(conditions[i].column)) + " = ?" +
               std::to_string(i + 1);
    }
    sql += " ORDER BY rowid";
    sqlite3_stmt* st = Prepare(sql);
    if (!st) return false;
    for (std::size_t i = 0; i < conditions.size(); ++i)
        Bind(st, static_cast<int>(i) + 1, conditions[i].value);
    int rc = 0;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        Row row;
        row.rowid = sqlite3_column_int64(st, 0);
        row.values.resize(table.columns.size());
        for (std::size_t i = 0; i < table.columns.size(); ++i) {
            Decode(st, static_cast<int>(i) + 1, table.columns[i], row.values[i]);
        }
        rows.push_back(std::move(row));
    }
    // An equality lookup that had to scan many rows gets an index on its column, so that
    // repeated lookups on a column that is not the primary key stay fast.
    const int scanned = sqlite3_stmt_status(st, SQLITE_STMTSTATUS_FULLSCAN_STEP, 1);
    sqlite3_reset(st);
    if (rc == SQLITE_DONE && !conditions.empty() && scanned > kIndexAfterScannedRows &&
        sqlite3_get_autocommit(db_)) {
        const std::string column = ColumnName(static_cast<std::size_t>(conditions[0].column));
        const std::string ddl = "CREATE INDEX IF NOT EXISTS " + table.sqlite_name + "_" + column +
                                " ON " + table.sqlite_name + "(" + column + ")";
        Exec(ddl.c_str());
    }
    return rc == SQLITE_DONE;
}

Storage::WriteResult Storage::InsertRow(const TableDef& table, const std::vector<Value>& values) {
    std::string sql = "INSERT INTO " + table.sqlite_name + " VALUES(";
    for (std::size_t i = 0; i < table.columns.size(); ++i) sql += i == 0 ? "?" : ", ?";
    sql += ")";
    sqlite3_stmt* st = Prepare(sql);
    if (!st) return WriteResult::Failed;
    for (std::size_t i = 0; i < values.size(); ++i) Bind(st, static_cast<int>(i) + 1, values[i]);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc == SQLITE_DONE) return WriteResult::Ok;
    return (rc & 0xFF) == SQLITE_CONSTRAINT ? WriteResult::DuplicateKey : WriteResult::Failed;
}

Storage::WriteResult Storage::UpdateRow(const TableDef& table, std::int64_t rowid,
                                        const std::vector<Value>& values) {
    std::string sql = "UPDATE " + table.sqlite_name + " SET ";
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        if (i > 0) sql += ", ";
        sql += ColumnName(i) + " = ?" + std::to_string(i + 1);
    }
    sql += " WHERE rowid = ?" + std::to_string(table.columns.size() + 1);
    sqlite3_stmt* st = Prepare(sql);
    if (!st) return WriteResult::Failed;
    for (std::size_t i = 0; i < values.size(); ++i) Bind(st, static_cast<int>(i) + 1, values[i]);
    sqlite3_bind_int64(st, static_cast<int>(table.columns.size()) + 1, rowid);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc == SQLITE_DONE) return WriteResult::Ok;
    return (rc & 0xFF) == SQLITE_CONSTRAINT ? WriteResult::DuplicateKey : WriteResult::Failed;
}

bool Storage::DeleteRow(const TableDef& table, std::int64_t rowid) {
    sqlite3_stmt* st = Prepare("DELETE FROM " + table.sqlite_name + " WHERE rowid = ?1");
    if (!st) return false;
    sqlite3_bind_int64(st, 1, rowid);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    return rc == SQLITE_DONE;
}

}  // namespace tdslite::detail
