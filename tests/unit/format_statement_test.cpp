// The statement buffer: values substituted into fixed statement texts, without any value able to
// change the statement around it.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "db/database.h"

namespace snp {
namespace {

struct FormatCase {
    const char* name;
    std::string_view statement;
    std::initializer_list<std::string_view> values;
    std::string_view expected;
};

TEST(FormatStatement, SubstitutesValuesInOrder) {
    const FormatCase cases[] = {
        {"quoted_values_in_order",
         "SELECT  MndSch  FROM ZENTRALE.Zkv112Mnd  WHERE MndLiz= '%s' AND   MndNum= '%s' ",
         {"00001", "00002"},
         "SELECT  MndSch  FROM ZENTRALE.Zkv112Mnd  WHERE MndLiz= '00001' AND   MndNum= '00002' "},
        {"schema_prefix_unquoted",
         "SELECT  COALESCE(FcdKsb, 0)  FROM %s.Zkv131Fcd  WHERE FcdNum = '%s' ",
         {"VORKANDEL", "10"},
         "SELECT  COALESCE(FcdKsb, 0)  FROM VORKANDEL.Zkv131Fcd  WHERE FcdNum = '10' "},
        {"quote_doubled_in_literal",
         "WHERE TsmNam = '%s'",
         {"O'Brien"},
         "WHERE TsmNam = 'O''Brien'"},
        {"value_of_only_quotes", "X '%s' Y", {"''"}, "X '''''' Y"},
        {"value_that_tries_to_close_the_literal",
         "WHERE AswNum = '%s' AND x = 1",
         {"1' OR '1'='1"},
         "WHERE AswNum = '1'' OR ''1''=''1' AND x = 1"},
        {"placeholder_text_in_value_not_expanded", "A '%s' B '%s'", {"%s", "z"}, "A '%s' B 'z'"},
        {"literal_with_blanks_before_placeholder",
         "COALESCE(ZlsKst, '   ') FROM Zentrale.Zkv401Zls  WHERE ZlsTrm= '%s' AND  ZlsLes= '%s' ",
         {"TERM1", "01"},
         "COALESCE(ZlsKst, '   ') FROM Zentrale.Zkv401Zls  WHERE ZlsTrm= 'TERM1' AND  ZlsLes= "
         "'01' "},
        {"doubled_quote_in_template_keeps_state",
         "SELECT 'it''s', %s.T WHERE a = '%s'",
         {"S1", "v'"},
         "SELECT 'it''s', S1.T WHERE a = 'v'''"},
        {"empty_values", "FROM %s.T WHERE a = '%s'", {"", ""}, "FROM .T WHERE a = ''"},
        {"percent_escape_and_lone_percent",
         "a LIKE '50%%' AND b = '%s' %d 100%",
         {"x"},
         "a LIKE '50%' AND b = 'x' %d 100%"},
        {"latin1_bytes_pass_through",
         "WHERE n = '%s'",
         {"M\xFC"
          "ller"},
         "WHERE n = 'M\xFC"
         "ller'"},
        {"identifier_characters", "FROM %s.T", {"Ab_9@#$"}, "FROM Ab_9@#$.T"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DbState db;
        ASSERT_TRUE(FormatStatement(db, c.statement, c.values));
        EXPECT_EQ(db.statement.text(), c.expected);
    }
}

// An unquoted value is a schema prefix: anything but a plain identifier is refused and the
// statement buffer keeps the statement it held.
TEST(FormatStatement, RefusesWhatCouldChangeTheStatement) {
    const FormatCase cases[] = {
        {"blank_in_schema", "FROM %s.Zkv131Fcd", {"A B"}, ""},
        {"statement_in_schema", "FROM %s.Zkv131Fcd", {"X.T; DROP TABLE Y --"}, ""},
        {"quote_in_schema", "FROM %s.Zkv131Fcd", {"A'"}, ""},
        {"dot_in_schema", "FROM %s.Zkv131Fcd", {"A.B"}, ""},
        {"latin1_letter_in_schema",
         "FROM %s.Zkv131Fcd",
         {"M\xDC"
          "NZ"},
         ""},
        {"zero_byte_in_quoted_value", "WHERE a = '%s'", {std::string_view("a\0b", 3)}, ""},
        {"more_placeholders_than_values", "a = '%s' AND b = '%s'", {"x"}, ""},
        {"more_values_than_placeholders", "a = '%s'", {"x", "y"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DbState db;
        ASSERT_TRUE(FormatStatement(db, "SELECT 1", {}));
        EXPECT_FALSE(FormatStatement(db, c.statement, c.values));
        EXPECT_EQ(db.statement.text(), "SELECT 1");
    }
}

TEST(SelectSchema, MakesTheNameCurrent) {
    DbState db;
    EXPECT_EQ(SelectSchema(db, "VORKANDEL"), 0);
    EXPECT_EQ(db.current_schema.view(), "VORKANDEL");
    EXPECT_EQ(SelectSchema(db, "AB"), 0);  // a shorter name leaves nothing of the longer one
    EXPECT_EQ(db.current_schema.view(), "AB");
    EXPECT_EQ(SelectSchema(db, ""), 0);
    EXPECT_TRUE(db.current_schema.empty());
}

}  // namespace
}  // namespace snp
