#include "engine/executor.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "engine/binder.h"
#include "engine/convert.h"
#include "engine/datetime.h"
#include "engine/evaluator.h"
#include "engine/messages.h"
#include "engine/text_rules.h"

namespace tdslite::detail {
namespace {

void FitToColumn(Value& v, const ColumnInfo& c) {
    if (v.kind != Value::Kind::Text) return;
    if (v.text.size() > c.length) v.text.resize(c.length);
    if (c.type == SqlType::Char && v.text.size() < c.length)
        v.text.append(c.length - v.text.size(), ' ');
}

int CompareForSort(const Value& a, const Value& b) {
    if (a.kind == Value::Kind::Null || b.kind == Value::Kind::Null) {
        if (a.kind == b.kind) return 0;
        return a.kind == Value::Kind::Null ? -1 : 1;
    }
    if (a.kind != b.kind) return a.kind < b.kind ? -1 : 1;
    switch (a.kind) {
        case Value::Kind::Int:
            return a.integer < b.integer ? -1 : (a.integer > b.integer ? 1 : 0);
        case Value::Kind::Text:
            return CompareText(a.text, b.text);
        case Value::Kind::DateTime: {
            const auto x = DateTimeKey(a.datetime), y = DateTimeKey(b.datetime);
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        case Value::Kind::Null:
            return 0;
    }
    return 0;
}

std::string HexSuffix(std::string_view text) {
    std::uint64_t h = 1469598103934665603ULL;
    for (char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(h));
    return buf;
}

std::string KeyValueText(const Value& v) {
    switch (v.kind) {
        case Value::Kind::Null:
            return "<NULL>";
        case Value::Kind::Int:
            return std::to_string(v.integer);
        case Value::Kind::Text:
            return v.text;
        case Value::Kind::DateTime:
            return FormatDateTime(v.datetime, 121);
    }
    return std::string();
}

class StatementRunner {
  public:
    StatementRunner(Storage& storage, const std::string& database, const Limits& limits)
        : storage_(storage), database_(database), ev_(storage, limits), binder_(storage, ev_) {}

    StatementResult result;
    bool abort_batch = false;

    void Run(Statement& st) {
        std::visit([this](auto& body) { Do(body); }, st.body);
        for (Message& m : result.messages) m.line = st.line;
    }

  private:
    void CompileFailed() {
        result.failed = true;
        abort_batch = true;
        for (Message& m : binder_.errors) result.messages.push_back(std::move(m));
        binder_.errors.clear();
    }

    void RuntimeFailed(SqlError& err, bool terminated_notice) {
        storage_.Rollback();
        result.failed = true;
        result.has_result_set = false;
        result.columns.clear();
        result.rows.clear();
        result.count_valid = false;
        abort_batch = err.aborts_batch;
        result.messages.push_back(std::move(err.message));
        if (terminated_notice) result.messages.push_back(msg::StatementTerminated());
    }

    void Fail(Message m, bool abort) {
        result.failed = true;
        abort_batch = abort;
        result.messages.push_back(std::move(m));
    }

    // ---- SELECT ---------------------------------------------------------------------------
    void Do(Select& s) {
        Scope scope;
        if (!binder_.BindSelect(s, scope)) return CompileFailed();
        for (const SelectItem& item : s.items) {
            ColumnInfo c;
            const Expr& e = *item.expr;
            if (item.has_alias) {
                c.name = item.alias;
            } else if (e.kind == ExprKind::Column) {
                c.name = s.tables[static_cast<std::size_t>(e.table)]
                             ->columns[static_cast<std::size_t>(e.column)]
                             .name;
            }
            c.type = e.type.type;
            c.length = IsTextType(c.type)
                           ? static_cast<std::uint16_t>(std::clamp<int>(e.type.length, 1, 8000))
                           : 0;
            c.nullable = e.type.nullable;
            result.columns.push_back(std::move(c));
        }

        Frame frame;
        frame.rows.assign(s.tables.size(), nullptr);
        ev_.frames.push_back(&frame);
        SqlError err;
        std::vector<std::vector<Value>> keys;
        bool ok = !s.where || ev_.PreEvaluate(*s.where, err);
        if (ok && !s.aggregates.empty()) {
            ok = ev_.Aggregate(s, frame, err);
            if (ok) {
                std::vector<Value> row(s.items.size());
                for (std::size_t i = 0; ok && i < s.items.size(); ++i)
                    ok = ev_.Eval(*s.items[i].expr, row[i], err);
                if (ok) result.rows.push_back(std::move(row));
            }
        } else if (ok) {
            ok = ev_.Scan(
                s, frame,
                [&](SqlError& e) {
                    std::vector<Value> row(s.items.size());
                    std::int64_t bytes = 16;
                    for (std::size_t i = 0; i < s.items.size(); ++i) {
                        if (!ev_.Eval(*s.items[i].expr, row[i], e)) return false;
                        FitToColumn(row[i], result.columns[i]);
                        bytes += 8 + static_cast<std::int64_t>(row[i].text.size());
                    }
                    if (!ev_.ChargeBytes(bytes, e)) return false;
                    if (!s.order.empty()) {
                        std::vector<Value> key(s.order.size());
                        for (std::size_t k = 0; k < s.order.size(); ++k) {
                            const OrderItem& o = s.order[k];
                            if (o.select_index >= 0) {
                                key[k] = row[static_cast<std::size_t>(o.select_index)];
                            } else if (!ev_.Eval(*o.expr, key[k], e)) {
                                return false;
                            }
                        }
                        keys.push_back(std::move(key));
                    }
                    result.rows.push_back(std::move(row));
                    return true;
                },
                err);
        }
        ev_.frames.pop_back();
        if (!ok) return RuntimeFailed(err, false);
        if (!s.order.empty() && s.aggregates.empty()) SortRows(s, keys);
        result.has_result_set = true;
        result.count_valid = true;
        result.row_count = static_cast<std::int64_t>(result.rows.size());
    }

    void SortRows(const Select& s, std::vector<std::vector<Value>>& keys) {
        std::vector<std::size_t> order(result.rows.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            for (std::size_t k = 0; k < s.order.size(); ++k) {
                int c = CompareForSort(keys[a][k], keys[b][k]);
                if (s.order[k].descending) c = -c;
                if (c != 0) return c < 0;
            }
            return false;
        });
        std::vector<std::vector<Value>> sorted;
        sorted.reserve(order.size());
        for (std::size_t i : order) sorted.push_back(std::move(result.rows[i]));
        result.rows = std::move(sorted);
    }

    // ---- INSERT ---------------------------------------------------------------------------
    void Do(Insert& ins) {
        const TableDef* t = binder_.ResolveTable(ins.table.name);
        if (!t) return CompileFailed();
        std::vector<int> targets;
        for (const std::string& name : ins.columns) {
            const int c = t->FindColumn(name);
            if (c < 0) {
                binder_.errors.push_back(msg::InvalidColumn(name));
                continue;
            }
            if (std::find(targets.begin(), targets.end(), c) != targets.end()) {
                binder_.errors.push_back(msg::ColumnSpecifiedTwice(name));
                continue;
            }
            targets.push_back(c);
        }
        if (binder_.Failed()) return CompileFailed();
        for (const auto& row : ins.rows) {
            if (row.size() != ins.rows[0].size()) {
                binder_.errors.push_back(msg::RowValueCountsDiffer());
                return CompileFailed();
            }
        }
        if (ins.columns.empty()) {
            for (std::size_t i = 0; i < t->columns.size(); ++i)
                targets.push_back(static_cast<int>(i));
            if (ins.rows[0].size() != targets.size()) {
                binder_.errors.push_back(msg::ColumnCountMismatch());
                return CompileFailed();
            }
        } else if (ins.rows[0].size() != targets.size()) {
            binder_.errors.push_back(ins.rows[0].size() > targets.size()
                                         ? msg::FewerColumnsThanValues()
                                         : msg::MoreColumnsThanValues());
            return CompileFailed();
        }
        Scope scope;
        scope.values_only = true;
        for (auto& row : ins.rows) {
            for (auto& e : row) binder_.BindExpr(*e, scope, AggMode::Forbidden, nullptr);
        }
        if (binder_.Failed()) return CompileFailed();

        Frame frame;
        ev_.frames.push_back(&frame);
        SqlError err;
        const bool ok = InsertRows(*t, targets, ins, err);
        ev_.frames.pop_back();
        if (!ok) return RuntimeFailed(err, true);
        result.count_valid = true;
        result.row_count = static_cast<std::int64_t>(ins.rows.size());
    }

    bool InsertRows(const TableDef& t, const std::vector<int>& targets, Insert& ins,
                    SqlError& err) {
        if (!storage_.Begin()) {
            err = SqlError{msg::StorageFailure(storage_.LastError()), false};
            return false;
        }
        for (auto& exprs : ins.rows) {
            std::vector<Value> values(t.columns.size());
            for (std::size_t i = 0; i < exprs.size(); ++i) {
                const auto c = static_cast<std::size_t>(targets[i]);
                Value v;
                if (!ev_.Eval(*exprs[i], v, err)) return false;
                if (!ConvertForStore(v, t.columns[c], values[c], err)) return false;
            }
            if (!StoreRow(t, values, std::nullopt, err)) return false;
        }
        if (!storage_.Commit()) {
            err = SqlError{msg::StorageFailure(storage_.LastError()), false};
            return false;
        }
        return true;
    }

    /// Checks NOT NULL and writes one row (insert, or update of rowid).
    bool StoreRow(const TableDef& t, const std::vector<Value>& values,
                  std::optional<std::int64_t> rowid, SqlError& err) {
        for (std::size_t c = 0; c < t.columns.size(); ++c) {
            if (!t.columns[c].nullable && values[c].kind == Value::Kind::Null) {
                err = SqlError{msg::NullNotAllowed(t.columns[c].name,
                                                   database_ + "." + t.schema + "." + t.name,
                                                   rowid.has_value()),
                               false};
                return false;
            }
        }
        const Storage::WriteResult r =
            rowid ? storage_.UpdateRow(t, *rowid, values) : storage_.InsertRow(t, values);
        if (r == Storage::WriteResult::Ok) return true;
        if (r == Storage::WriteResult::DuplicateKey && !t.key.empty()) {
            std::string list;
            for (std::size_t k = 0; k < t.key.size(); ++k) {
                if (k > 0) list += ", ";
                list += KeyValueText(values[static_cast<std::size_t>(t.key[k])]);
            }
            err = SqlError{msg::DuplicateKey(t.key_name, t.schema + "." + t.name, list), false};
            return false;
        }
        err = SqlError{msg::StorageFailure(storage_.LastError()), false};
        return false;
    }

    // ---- UPDATE / DELETE ------------------------------------------------------------------
    /// Binds the single-table scope of UPDATE/DELETE as a query over that table.
    bool BindTarget(const TableRef& ref, Select& query, Scope& scope,
                    std::unique_ptr<Expr>& where) {
        const TableDef* t = binder_.ResolveTable(ref.name);
        if (!t) return false;
        binder_.AddTable(scope, t, ref);
        query.tables = scope.tables;
        query.where = std::move(where);
        if (query.where) binder_.BindExpr(*query.where, scope, AggMode::Forbidden, nullptr);
        return !binder_.Failed();
    }

    void Do(Update& up) {
        Select query;
        Scope scope;
        if (!BindTarget(up.table, query, scope, up.where)) return CompileFailed();
        const TableDef& t = *query.tables[0];
        std::vector<int> targets;
        for (Assignment& a : up.assignments) {
            const int c = t.FindColumn(a.column.back());
            if (c < 0) {
                binder_.errors.push_back(msg::InvalidColumn(a.column.back()));
                continue;
            }
            if (std::find(targets.begin(), targets.end(), c) != targets.end()) {
                binder_.errors.push_back(msg::ColumnSpecifiedTwice(a.column.back()));
                continue;
            }
            targets.push_back(c);
            binder_.BindExpr(*a.value, scope, AggMode::Forbidden, nullptr);
        }
        if (binder_.Failed()) return CompileFailed();

        Frame frame;
        frame.rows.assign(1, nullptr);
        ev_.frames.push_back(&frame);
        SqlError err;
        std::vector<std::pair<std::int64_t, std::vector<Value>>> changes;
        bool ok = !query.where || ev_.PreEvaluate(*query.where, err);
        ok = ok && ev_.Scan(
                       query, frame,
                       [&](SqlError& e) {
                           const Row& row = *frame.rows[0];
                           std::vector<Value> values = row.values;
                           for (std::size_t i = 0; i < targets.size(); ++i) {
                               const auto c = static_cast<std::size_t>(targets[i]);
                               Value v;
                               if (!ev_.Eval(*up.assignments[i].value, v, e)) return false;
                               if (!ConvertForStore(v, t.columns[c], values[c], e)) return false;
                           }
                           changes.emplace_back(row.rowid, std::move(values));
                           return true;
                       },
                       err);
        ev_.frames.pop_back();
        if (ok) {
            ok = storage_.Begin();
            if (!ok) err = SqlError{msg::StorageFailure(storage_.LastError()), false};
            for (std::size_t i = 0; ok && i < changes.size(); ++i) {
                ok = StoreRow(t, changes[i].second, changes[i].first, err);
            }
            if (ok && !storage_.Commit()) {
                ok = false;
                err = SqlError{msg::StorageFailure(storage_.LastError()), false};
            }
        }
        if (!ok) return RuntimeFailed(err, true);
        result.count_valid = true;
        result.row_count = static_cast<std::int64_t>(changes.size());
    }

    void Do(Delete& del) {
        Select query;
        Scope scope;
        if (!BindTarget(del.table, query, scope, del.where)) return CompileFailed();
        const TableDef& t = *query.tables[0];
        Frame frame;
        frame.rows.assign(1, nullptr);
        ev_.frames.push_back(&frame);
        SqlError err;
        std::vector<std::int64_t> rowids;
        bool ok = !query.where || ev_.PreEvaluate(*query.where, err);
        ok = ok && ev_.Scan(
                       query, frame,
                       [&](SqlError&) {
                           rowids.push_back(frame.rows[0]->rowid);
                           return true;
                       },
                       err);
        ev_.frames.pop_back();
        if (ok) {
            ok = storage_.Begin();
            for (std::size_t i = 0; ok && i < rowids.size(); ++i)
                ok = storage_.DeleteRow(t, rowids[i]);
            ok = ok && storage_.Commit();
            if (!ok) err = SqlError{msg::StorageFailure(storage_.LastError()), false};
        }
        if (!ok) return RuntimeFailed(err, true);
        result.count_valid = true;
        result.row_count = static_cast<std::int64_t>(rowids.size());
    }

    // ---- DDL ------------------------------------------------------------------------------
    void Do(CreateSchema& cs) {
        if (storage_.FindSchema(cs.name)) return Fail(msg::ObjectExists(cs.name), false);
        if (!storage_.CreateSchema(cs.name))
            return Fail(msg::StorageFailure(storage_.LastError()), false);
    }

    void Do(CreateTable& ct) {
        const std::size_t n = ct.name.parts.size();
        const std::string& written_schema = n >= 2 ? ct.name.parts[n - 2] : std::string();
        const std::string& table_name = ct.name.parts[n - 1];
        const std::string* schema =
            storage_.FindSchema(written_schema.empty() ? "dbo" : written_schema);
        if (!schema) return Fail(msg::SchemaMissing(written_schema), false);
        if (storage_.FindTable(*schema, table_name))
            return Fail(msg::ObjectExists(table_name), false);
        if (ct.columns.size() > 1024)
            return Fail(msg::TooManyColumns(ct.columns[1024].name, table_name), false);
        if (ct.primary_key_clauses > 1) return Fail(msg::MultiplePrimaryKeys(table_name), false);

        TableDef def;
        def.schema = *schema;
        def.name = table_name;
        for (std::size_t i = 0; i < ct.columns.size(); ++i) {
            const ColumnSpec& declared = ct.columns[i];
            const int number = static_cast<int>(i) + 1;
            if (!declared.type_known) return Fail(msg::UnknownType(number, declared.type_name), false);
            ColumnDef c;
            c.name = declared.name;
            c.key = IdentifierKey(declared.name);
            c.type = declared.type.type;
            if (IsTextType(c.type)) {
                if (declared.length_written == 0) return Fail(msg::ZeroLength(ct.name.line), false);
                if (declared.length_written > 8000)
                    return Fail(msg::SizeTooBig(declared.length_written, declared.name), false);
                c.length =
                    static_cast<std::uint16_t>(declared.length_written < 0 ? 1 : declared.length_written);
            } else if (declared.length_written >= 0) {
                return Fail(msg::Make(2716, 16, 1,
                                      "Column, parameter, or variable #" + std::to_string(number) +
                                          ": Cannot specify a column width on data type " +
                                          declared.type_name + "."),
                            false);
            }
            c.nullable = declared.nullable.value_or(true);
            if (def.FindColumn(declared.name) >= 0)
                return Fail(msg::DuplicateColumnName(declared.name, table_name), false);
            if (declared.primary_key) {
                if (declared.nullable == std::optional<bool>(true))
                    return Fail(msg::NullablePrimaryKey(table_name), false);
                def.key.push_back(static_cast<int>(i));
                def.key_name = declared.constraint_name;
            }
            def.columns.push_back(std::move(c));
        }
        for (const std::string& k : ct.key_columns) {
            const int c = def.FindColumn(k);
            if (c < 0) return Fail(msg::PrimaryKeyColumnMissing(k), false);
            if (ct.columns[static_cast<std::size_t>(c)].nullable == std::optional<bool>(true)) {
                return Fail(msg::NullablePrimaryKey(table_name), false);
            }
            if (std::find(def.key.begin(), def.key.end(), c) == def.key.end()) def.key.push_back(c);
        }
        if (!ct.key_columns.empty()) def.key_name = ct.key_name;
        for (int k : def.key) def.columns[static_cast<std::size_t>(k)].nullable = false;
        if (!def.key.empty() && def.key_name.empty()) {
            def.key_name =
                "PK__" + table_name.substr(0, 8) + "__" + HexSuffix(*schema + "." + table_name);
        }
        if (!storage_.CreateTable(std::move(def)))
            return Fail(msg::StorageFailure(storage_.LastError()), false);
    }

    void Do(DropTable& drop) {
        for (const ObjectName& name : drop.names) {
            const std::size_t n = name.parts.size();
            const std::string& schema = n >= 2 ? name.parts[n - 2] : std::string();
            const TableDef* t =
                storage_.FindTable(schema.empty() ? "dbo" : schema, name.parts[n - 1]);
            if (!t) {
                if (drop.if_exists) continue;
                return Fail(msg::CannotDropTable(name.text), false);
            }
            if (!storage_.DropTable(*t))
                return Fail(msg::StorageFailure(storage_.LastError()), false);
        }
    }

    void Do(SetOption&) {}

    Storage& storage_;
    const std::string& database_;
    Evaluator ev_;
    Binder binder_;
};

}  // namespace

StatementResult Executor::Run(Statement& statement, bool* abort_batch) {
    StatementRunner runner(storage_, database_, limits_);
    runner.Run(statement);
    if (abort_batch) *abort_batch = runner.abort_batch;
    return std::move(runner.result);
}

}  // namespace tdslite::detail
