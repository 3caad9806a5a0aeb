// Bad input for the engine: malformed, oversized or deeply nested SQL and SQL outside the subset
// give an error result with a server error number, never a crash or a hang.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_harness.h"

namespace {

using enginetest::EngineTest;

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST_F(EngineTest, DeepNestingIsRefusedWithNestedTooDeeply) {
    const std::vector<std::string> batches = {
        "SELECT " + Repeat("(", 5000) + "1" + Repeat(")", 5000),
        "SELECT 1" + Repeat(" + 1", 20000),
        "SELECT 1 WHERE " + Repeat("NOT ", 5000) + "1 = 1",
        "SELECT " + Repeat("- ", 5000) + "x",
        "SELECT 1 WHERE 1 = 1" + Repeat(" OR 1 = 1", 5000),
        "SELECT " + Repeat("(SELECT ", 500) + "1" + Repeat(")", 500),
        "SELECT " + Repeat("COALESCE(", 3000) + "1" + Repeat(", 2)", 3000),
    };
    for (const std::string& batch : batches) {
        SCOPED_TRACE(batch.substr(0, 40));
        const auto results = Run(batch);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_TRUE(results[0].failed);
        EXPECT_EQ(results[0].messages.at(0).number, 191);
    }
    // Moderate nesting is fine.
    EXPECT_EQ(Scalar("SELECT " + Repeat("(", 40) + "1" + Repeat(" + 1)", 40)), "41");
    EXPECT_EQ(Scalar("SELECT " + Repeat("(SELECT ", 20) + "'x'" + Repeat(")", 20)), "'x'");
}

TEST_F(EngineTest, MalformedOrUnsupportedSqlGivesAnError) {
    struct Case {
        std::string sql;
        int number;
    };
    const Case cases[] = {
        {std::string("\x01\x02", 2), 102},
        {std::string("SELECT 1\0", 9), 102},
        {")", 102},
        {"SELECT", 156},
        {"INSERT INTO", 156},
        {"INSERT INTO t", 102},
        {"UPDATE t SET", 156},
        {"SELECT @x", 137},
        {"SELECT 1.5", 102},
        {"EXEC sp_who", 156},
        {"SELECT * FROM a.b.c.d.e", 117},
        {"SELECT " + std::string(200, 'x'), 103},
        {"SELECT 99999999999", 8115},
        {"SELECT \"unclosed", 105},
        {"SELECT [unclosed", 105},
        {"SELECT * FROM t, u, v", 102},
        {"SELECT CONVERT(money, 1)", 243},
        {"SELECT CONVERT(varchar(9000), 1)", 131},
        {"SELECT COALESCE(NULL, NULL)", 4127},
        {"SELECT LEN()", 174},
        {"SELECT 1 WHERE COUNT(*) = 1", 147},
        {"SELECT (SELECT 1 ORDER BY 1)", 1033},
        {"SELECT COUNT(*), nowhere", 207},  // an unresolved column in an aggregate query
        {"SELECT 1 FROM x ORDER BY 3", 208},
        {"SELECT 1 ORDER BY 3", 108},
        {"INSERT INTO t VALUES (1), (1, 2)", 10709},
        {"CREATE VIEW v AS SELECT 1", 156},
        {"DROP SCHEMA s", 156},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        const auto results = Run(c.sql);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_TRUE(results[0].failed);
        ASSERT_FALSE(results[0].messages.empty());
        EXPECT_EQ(results[0].messages[0].number, c.number);
        EXPECT_GE(results[0].messages[0].severity, 11);
    }
}

TEST_F(EngineTest, OversizedValuesAndBatchesStayBounded) {
    const auto big = One("SELECT '" + std::string(100000, 'x') + "'");
    ASSERT_FALSE(big.failed);
    EXPECT_EQ(big.columns.at(0).length, 8000);
    EXPECT_EQ(big.rows.at(0).at(0).text.size(), 8000u);
    EXPECT_EQ(Scalar("SELECT DATALENGTH(REPLICATE('abc', 2147483647) + 'x')"), "8000");

    std::string many;
    for (int i = 0; i < 3000; ++i) many += "SELECT " + std::to_string(i) + ";\n";
    const auto results = Run(many);
    ASSERT_EQ(results.size(), 3000u);
    EXPECT_EQ(results.back().messages.size(), 0u);
    EXPECT_EQ(results.back().rows.at(0).at(0).integer, 2999);
}

}  // namespace
