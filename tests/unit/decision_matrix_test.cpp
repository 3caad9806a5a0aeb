// The decision matrix: which cost centre a line gets from the person's and the function code's
// cost-centre relation (1 fixed, 2 variable, anything else neither).
#include <gtest/gtest.h>

#include <string_view>

#include "run/run.h"

namespace snp {
namespace {

struct MatrixCase {
    const char* name;
    std::int32_t personnel_relation;
    std::int32_t message_type_relation;
    std::string_view reader_cost_centre;
    std::string_view personnel_cost_centre;
    std::string_view expected;
};

constexpr MatrixCase kMatrix[] = {
    // Fixed person: always the person's cost centre, trailing blanks as delivered.
    {"fixed_person_fixed_code", 1, 1, "LESER", "PERS  ", "PERS  "},
    {"fixed_person_variable_code", 1, 2, "LESER", "PERS", "PERS"},
    {"fixed_person_no_code_relation", 1, 0, "LESER", "PERS", "PERS"},
    {"fixed_person_empty_cost_centre", 1, 2, "LESER", "", ""},
    // Variable person, fixed code: the reader's, even when the reader has none.
    {"variable_fixed_reader", 2, 1, "LESER", "PERS", "LESER"},
    {"variable_fixed_empty_reader", 2, 1, "", "PERS", ""},
    // Variable person, variable code: the reader's, the person's when the reader has none.
    {"variable_variable_reader", 2, 2, "LESER", "PERS", "LESER"},
    {"variable_variable_empty_reader", 2, 2, "", "PERS", "PERS"},
    // Variable person, code neither fixed nor variable: the person's.
    {"variable_no_code_relation", 2, 0, "LESER", "PERS", "PERS"},
    {"variable_unknown_code_relation", 2, 3, "LESER", "PERS", "PERS"},
    // Person neither fixed nor variable: a single blank.
    {"no_person_relation", 0, 1, "LESER", "PERS", " "},
    {"unknown_person_relation", 3, 2, "LESER", "PERS", " "},
    {"negative_person_relation", -1, 2, "LESER", "PERS", " "},
};

TEST(DecisionMatrix, ChoosesCostCentreFromBothRelations) {
    for (const MatrixCase& c : kMatrix) {
        SCOPED_TRACE(c.name);
        BookingContext booking;
        booking.PersonnelRelation = c.personnel_relation;
        booking.MessageTypeRelation = c.message_type_relation;
        booking.ReaderCostCentre.assign(c.reader_cost_centre);
        booking.PersonnelCostCentre.assign(c.personnel_cost_centre);
        Field<31> cost_centre;
        cost_centre.fill_text(30, 'x');  // what an earlier booking left must not show through
        DecideCostCentre(booking, cost_centre);
        EXPECT_EQ(cost_centre.view(), c.expected);
    }
}

}  // namespace
}  // namespace snp
