// Helpers of the engine tests: an in-memory engine per test and compact renderings of results,
// so that cases read as statement -> rows or statement -> messages.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"

namespace enginetest {

/// NULL, 42, 'text' or 2003-02-01 07:45:00.000 (milliseconds as the server rounds 1/300 s).
inline std::string Show(const tdslite::Value& v) {
    using Kind = tdslite::Value::Kind;
    switch (v.kind) {
        case Kind::Null:
            return "NULL";
        case Kind::Int:
            return std::to_string(v.integer);
        case Kind::Text:
            return "'" + v.text + "'";
        case Kind::DateTime: {
            // Civil date from days since 1900-01-01 (valid for the datetime range).
            long z = v.datetime.days + 693901L;
            const long era = (z >= 0 ? z : z - 146096) / 146097;
            const long doe = z - era * 146097;
            const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
            const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
            const long mp = (5 * doy + 2) / 153;
            const long day = doy - (153 * mp + 2) / 5 + 1;
            const long month = mp < 10 ? mp + 3 : mp - 9;
            const long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
            const long ms_total = (static_cast<long>(v.datetime.ticks) * 10 + 1) / 3;
            char buf[96];
            std::snprintf(buf, sizeof buf, "%04ld-%02ld-%02ld %02ld:%02ld:%02ld.%03ld", year, month,
                          day, ms_total / 3600000, ms_total / 60000 % 60, ms_total / 1000 % 60,
                          ms_total % 1000);
            return buf;
        }
    }
    return "?";
}

/// The values of a row joined by '|'.
inline std::string ShowRow(const std::vector<tdslite::Value>& row) {
    std::string out;
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0) out += "|";
        out += Show(row[i]);
    }
    return out;
}

/// "number severity state: text" of a message.
inline std::string ShowMessage(const tdslite::Message& m) {
    return std::to_string(m.number) + " " + std::to_string(m.severity) + " " +
           std::to_string(m.state) + ": " + m.text;
}

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        engine_ = tdslite::Engine::Open("", &error);
        ASSERT_NE(engine_, nullptr) << error;
    }

    std::vector<tdslite::StatementResult> Run(std::string_view batch) {
        return engine_->ExecuteBatch(batch);
    }

    /// Runs a batch whose statements must all succeed.
    void Exec(std::string_view batch) {
        for (const auto& r : Run(batch)) {
            ASSERT_FALSE(r.failed) << batch << "\n"
                                   << (r.messages.empty() ? "" : ShowMessage(r.messages[0]));
        }
    }

    /// The result of a batch of one statement.
    tdslite::StatementResult One(std::string_view sql) {
        auto results = Run(sql);
        EXPECT_EQ(results.size(), 1u) << sql;
        return results.empty() ? tdslite::StatementResult{} : std::move(results[0]);
    }

    /// The rows of a SELECT that must succeed, each rendered by ShowRow.
    std::vector<std::string> Rows(std::string_view sql) {
        const auto r = One(sql);
        EXPECT_FALSE(r.failed) << sql << "\n"
                               << (r.messages.empty() ? "" : ShowMessage(r.messages[0]));
        std::vector<std::string> rows;
        for (const auto& row : r.rows) rows.push_back(ShowRow(row));
        return rows;
    }

    /// The single value of a one-row, one-column SELECT, or the first message when it fails.
    std::string Scalar(std::string_view sql) {
        const auto r = One(sql);
        if (r.failed) return r.messages.empty() ? "failed" : ShowMessage(r.messages[0]);
        if (r.rows.size() != 1 || r.rows[0].size() != 1)
            return "rows: " + std::to_string(r.rows.size());
        return Show(r.rows[0][0]);
    }

    /// The messages of a statement that must fail.
    std::vector<std::string> Errors(std::string_view sql) {
        const auto r = One(sql);
        EXPECT_TRUE(r.failed) << sql;
        std::vector<std::string> out;
        for (const auto& m : r.messages) out.push_back(ShowMessage(m));
        return out;
    }

    std::unique_ptr<tdslite::Engine> engine_;
};

}  // namespace enginetest
