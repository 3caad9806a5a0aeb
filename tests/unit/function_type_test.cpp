// The function type of a message type as the output line carries it: five characters, zeros on
// the left, and -9 standing for no function.
#include <gtest/gtest.h>

#include <string_view>

#include "db/query.h"

namespace snp {
namespace {

struct FunctionTypeCase {
    const char* name;
    std::string_view fetched;
    std::string_view expected;
};

constexpr FunctionTypeCase kFunctionTypes[] = {
    {"one_digit", "7", "00007"},
    {"three_digits", "123", "00123"},
    {"trailing_blanks_removed_first", "12   ", "00012"},
    {"empty", "", "00000"},
    {"only_blanks", "     ", "00000"},
    {"minus_nine_means_none", "-9", "00000"},
    {"minus_one_is_padded", "-1", "000-1"},
    {"five_characters_unchanged", "32767", "32767"},
};

TEST(FunctionType, PaddedToFiveWithLeadingZeros) {
    for (const FunctionTypeCase& c : kFunctionTypes) {
        SCOPED_TRACE(c.name);
        Field<6> function_type;
        function_type.assign(c.fetched);
        FormatFunctionType(function_type);
        EXPECT_EQ(function_type.view(), c.expected);
    }
}

}  // namespace
}  // namespace snp
