// The string helpers, at the edges the configuration reader and the lookups rely on.
#include "text/text.h"

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "text/field.h"

namespace snp {
namespace {

TEST(TrimRight, RemovesOnlyBlankTabAndLineFeed) {
    const struct {
        const char* name;
        std::string_view in, out;
    } cases[] = {
        {"blank_tab_lf_go", "ab \t\n", "ab"},
        {"cr_stays", "ab\r\n", "ab\r"},
        {"vertical_tab_and_form_feed_stay", "ab\v\f", "ab\v\f"},
        {"only_white", " \t\n ", ""},
        {"empty", "", ""},
        {"leading_kept", "  ab", "  ab"},
        {"inner_kept", "a b  ", "a b"},
        {"high_bytes_are_text", "M\xFC\xA0 ", "M\xFC\xA0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Field<16> f;
        f.assign(c.in);
        EXPECT_EQ(TrimRight(f).view(), c.out);
    }
}

TEST(TrimRight, BufferWithoutTerminatorStaysInside) {
    std::array<char, 6> buffer = {'a', 'b', ' ', ' ', ' ', ' '};
    TrimRight(buffer);
    EXPECT_EQ(TextOf(buffer), "ab");
    std::array<char, 3> full = {'a', 'b', 'c'};
    TrimRight(full);  // nothing to trim, and no room for a terminator: nothing is written
    EXPECT_EQ(TextOf(full), "abc");
}

TEST(UpperCase, OnlyAsciiLetters) {
    Field<32> f;
    f.assign("dbo_x1-\xE4\xFC\xDF{}`@z");
    EXPECT_EQ(UpperCase(f).view(), "DBO_X1-\xE4\xFC\xDF{}`@Z");
    Field<4> empty;
    EXPECT_TRUE(UpperCase(empty).empty());
}

TEST(CopySubstring, LengthDecidesWhatIsCopied) {
    const struct {
        const char* name;
        std::string_view source;
        int start, length;
        std::string_view out;
    } cases[] = {
        {"day", "311299", 0, 2, "31"},          {"month", "311299", 2, 2, "12"},
        {"year", "311299", 4, 2, "99"},         {"zero_is_to_the_end", "abcde", 0, 0, "abcde"},
        {"zero_from_1", "abcde", 1, 0, "bcde"}, {"zero_from_the_end", "abcde", 5, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Field<16> src;
        src.assign(c.source);
        Field<16> dst;
        dst.fill_text(15, 'x');
        ASSERT_TRUE(CopySubstring(src.bytes, c.start, c.length, dst.bytes));
        EXPECT_EQ(dst.view(), c.out);
    }
}

TEST(CopySubstring, PositiveLengthCopiesPastATerminator) {
    const char source[] = {'a', '\0', 'b', 'c'};
    std::array<char, 5> dst;
    dst.fill('x');
    ASSERT_TRUE(CopySubstring(source, 0, 4, dst));
    EXPECT_EQ(std::string(dst.data(), 5), std::string("a\0bc\0", 5));
}

TEST(CopySubstring, NegativeLengthWritesNothing) {
    // A buffer of 'x' shows a stray terminator that a zeroed buffer would hide.
    std::array<char, 8> dst;
    dst.fill('x');
    ASSERT_TRUE(CopySubstring(std::string_view("abc"), 0, -1, dst));
    EXPECT_EQ(std::string(dst.data(), dst.size()), "xxxxxxxx");
}

TEST(CopySubstring, InPlaceAndForwardInTheSameBuffer) {
    Field<16> f;
    f.assign("abcdef");
    ASSERT_TRUE(CopySubstring(f.bytes, 0, 2, f.bytes));  // cut in place
    EXPECT_EQ(f.view(), "ab");

    f.assign("0001234");  // the destination before the source in the same buffer
    ASSERT_TRUE(CopySubstring(f.bytes, 3, 0, f.bytes));
    EXPECT_EQ(f.view(), "1234");
}

TEST(CopySubstring, RefusesToReadOrWriteOutsideTheBuffers) {
    const struct {
        const char* name;
        int start, length;
        std::size_t destination_size;
    } cases[] = {
        {"start_beyond_the_text", 7, 0, 16},
        {"negative_start", -1, 2, 16},
        {"length_beyond_the_source", 4, 4, 16},  // the source buffer holds 7 bytes
        {"destination_without_room_for_terminator", 0, 4, 4},
        {"rest_does_not_fit", 1, 0, 5},  // "bcdef" and its terminator need 6
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::array<char, 7> source = {'a', 'b', 'c', 'd', 'e', 'f', '\0'};
        std::array<char, 16> dst;
        dst.fill('x');
        EXPECT_FALSE(
            CopySubstring(source, c.start, c.length, std::span(dst).first(c.destination_size)));
        EXPECT_EQ(std::string(dst.data(), dst.size()), std::string(16, 'x'));
    }
}

TEST(FindNthChar, FallsBackToTheLastOccurrence) {
    const struct {
        std::string_view text;
        char c;
        int n, position;
    } cases[] = {
        {"a;b;c", ';', 1, 1},
        {"a;b;c", ';', 2, 3},
        {"a;bc", ';', 2, 1},
        {"abc", ';', 1, -1},
        {"", ';', 1, -1},
        {";;;;", ';', 2, 1},
        {"a;b;c;d;", ';', 2, 3},
        {"ab\n", '\n', 1, 2},
        {std::string_view("a\0;", 3), ';', 1, -1},  // the text ends at its terminator
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " n=" + std::to_string(c.n));
        EXPECT_EQ(FindNthChar(c.text, c.c, c.n), c.position);
    }
}

}  // namespace
}  // namespace snp
