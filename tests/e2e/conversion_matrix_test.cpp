// The decision matrix end to end: the cost centre of each line from the person's and the function
// code's cost-centre relation as the database holds them, in one run, so that no booking can
// inherit what an earlier one chose.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "conversion_run.h"

// The expected texts keep one column field or one message per line.
// clang-format off
namespace conversion {
namespace {

struct MatrixCase {
    const char* name;
    const char* badge;  // 2001 fixed, 2002 variable, 2003 NULL, 2004 relation 3, 2005 none
    char type;          // A fixed code, B variable, C NULL relation, D relation 3
    const char* reader; // 01 has cost centre LESER-01, 02 has none
    const char* matrix; // the relations the matrix line shows
    const char* cost_centre;
};

constexpr MatrixCase kMatrix[] = {
    {"fixed_person_fixed_code", "2001", 'A', "01", "Pnr: 1, Mld: 1", "PERS-FIX"},
    {"fixed_person_variable_code_no_reader", "2001", 'B', "02", "Pnr: 1, Mld: 2", "PERS-FIX"},
    // Right after a fixed person: a failed assignment shows 0, and no cost centre carries over.
    {"no_assignment_after_fixed_person", "2005", 'A', "01", "Pnr: 0, Mld: 1", ""},
    {"fixed_person_null_code_relation", "2001", 'C', "01", "Pnr: 1, Mld: 0", "PERS-FIX"},
    {"variable_person_fixed_code", "2002", 'A', "01", "Pnr: 2, Mld: 1", "LESER-01"},
    {"variable_person_fixed_code_no_reader", "2002", 'A', "02", "Pnr: 2, Mld: 1", ""},
    {"variable_person_variable_code", "2002", 'B', "01", "Pnr: 2, Mld: 2", "LESER-01"},
    {"variable_person_variable_code_no_reader", "2002", 'B', "02", "Pnr: 2, Mld: 2", "PERS-VAR"},
    {"variable_person_null_code_relation", "2002", 'C', "01", "Pnr: 2, Mld: 0", "PERS-VAR"},
    {"variable_person_code_relation_3", "2002", 'D', "01", "Pnr: 2, Mld: 3", "PERS-VAR"},
    {"null_person_relation", "2003", 'B', "01", "Pnr: 0, Mld: 2", ""},
    {"person_relation_3", "2004", 'A', "01", "Pnr: 3, Mld: 1", ""},
};

TEST(ConversionMatrix, CostCentreOfEachLineFollowsBothRelations) {
    const std::unique_ptr<TdsliteServer> server = StartServer("conversion_matrix.sql");
    ASSERT_TRUE(server) << "tdslite did not start";

    std::string upload;
    for (const MatrixCase& c : kMatrix) {
        upload += Record(c.badge, "150626", "080000", c.type, c.reader);
    }
    const Conversion run = Convert(*server, "TERM01", upload);
    EXPECT_EQ(run.exit_status, 0);

    std::vector<std::string> matrix_lines;
    for (std::size_t at = run.console.find("- Entscheidungsmatrix: "); at != std::string::npos;
         at = run.console.find("- Entscheidungsmatrix: ", at + 1)) {
        matrix_lines.push_back(run.console.substr(at, run.console.find('\n', at) - at));
    }
    const std::vector<std::string> lines = Lines(run.output);
    ASSERT_EQ(lines.size(), std::size(kMatrix));
    ASSERT_EQ(matrix_lines.size(), std::size(kMatrix));

    for (std::size_t i = 0; i < std::size(kMatrix); ++i) {
        const MatrixCase& c = kMatrix[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(matrix_lines[i],
                  std::string("- Entscheidungsmatrix: ") + c.matrix + " (1=fix, 2=variabel)");
        std::string cost_centre = c.cost_centre;
        cost_centre.resize(30, ' ');
        ASSERT_EQ(lines[i].size(), 81u);
        EXPECT_EQ(lines[i].substr(20, 8), std::string("0000") + c.badge);
        EXPECT_EQ(lines[i].substr(51), cost_centre);
    }
}

}  // namespace
}  // namespace conversion
// clang-format on
