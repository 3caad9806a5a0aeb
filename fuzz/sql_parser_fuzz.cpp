// Fuzz target: arbitrary bytes as one batch for tdslite's T-SQL engine, over a small fixture in a
// fresh in-memory database.  Besides crashes and hangs it checks what the protocol layer relies
// on: failed results carry an error, and result rows fit their column metadata (NULL only in
// nullable columns, char values exactly as long as the column, integers within their type).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/engine.h"

namespace {

constexpr std::string_view kFixture =
    "CREATE SCHEMA ZENTRALE\n"
    "CREATE TABLE ZENTRALE.Asw (Num varchar(13) NOT NULL PRIMARY KEY, Pnr char(8), Gvo datetime, "
    "Gbi datetime NULL, Kon int, Typ smallint)\n"
    "CREATE TABLE Fcd (FcdNum varchar(3) NOT NULL, FcdKsb int NULL, FcdTxt char(30) NULL)\n"
    "INSERT INTO ZENTRALE.Asw VALUES ('1001', '4711', '20030101', NULL, 0, -9), "
    "('1002 ', 'x', '19991231', '20040229', 7, 3), ('A', NULL, NULL, NULL, NULL, NULL)\n"
    "INSERT INTO Fcd VALUES ('K', 1, 'abc'), ('KO', 2, NULL), ('', NULL, '')\n";

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    auto engine = tdslite::Engine::Open("", &error);
    Check(engine != nullptr);
    for (const auto& r : engine->ExecuteBatch(kFixture)) Check(!r.failed);

    const std::string_view batch(reinterpret_cast<const char*>(data), size);
    const auto results = engine->ExecuteBatch(batch);
    for (const auto& r : results) {
        if (r.failed) {
            Check(!r.messages.empty() && r.messages.front().severity >= 11);
            Check(!r.has_result_set);
        }
        for (const auto& m : r.messages) Check(m.number > 0 && !m.text.empty() && m.line >= 1);
        if (!r.has_result_set) continue;
        Check(!r.columns.empty());
        Check(r.count_valid && r.row_count == static_cast<std::int64_t>(r.rows.size()));
        for (const auto& c : r.columns) {
            const bool text =
                c.type == tdslite::SqlType::Char || c.type == tdslite::SqlType::VarChar;
            Check(!text || (c.length >= 1 && c.length <= 8000));
        }
        for (const auto& row : r.rows) {
            Check(row.size() == r.columns.size());
            for (std::size_t i = 0; i < row.size(); ++i) {
                const auto& v = row[i];
                const auto& c = r.columns[i];
                using Kind = tdslite::Value::Kind;
                if (v.kind == Kind::Null) {
                    Check(c.nullable);
                    continue;
                }
                switch (c.type) {
                    case tdslite::SqlType::Char:
                        Check(v.kind == Kind::Text && v.text.size() == c.length);
                        break;
                    case tdslite::SqlType::VarChar:
                        Check(v.kind == Kind::Text && v.text.size() <= c.length);
                        break;
                    case tdslite::SqlType::Int:
                        Check(v.kind == Kind::Int && v.integer >= INT32_MIN &&
                              v.integer <= INT32_MAX);
                        break;
                    case tdslite::SqlType::SmallInt:
                        Check(v.kind == Kind::Int && v.integer >= INT16_MIN &&
                              v.integer <= INT16_MAX);
                        break;
                    case tdslite::SqlType::DateTime:
                        Check(v.kind == Kind::DateTime && v.datetime.ticks < 300u * 86400u);
                        break;
                }
            }
        }
    }
    return 0;
}
