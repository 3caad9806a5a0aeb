// The input records read in text mode, and the output stream written in text mode.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "run/booking_record.h"
#include "run/output_record.h"

namespace snp {
namespace {

// One record, field by field:   badge (13)       date    time    type reader flag
constexpr std::string_view kRecordA =
    "4711         "
    "311299"
    "080000"
    "A"
    "01"
    "0";
constexpr std::string_view kRecordK =
    "0000000004712"
    "010100"
    "123456"
    "K"
    "R2"
    "1";
static_assert(kRecordA.size() == 29 && kRecordK.size() == 29);

struct Fields {
    std::string badge, date, time, type, reader, flag;
    bool operator==(const Fields&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Fields& f) {
    return os << '[' << f.badge << '|' << f.date << '|' << f.time << '|' << f.type << '|'
              << f.reader << '|' << f.flag << ']';
}

// Reads every complete record of `bytes`.
std::vector<Fields> ReadAll(std::string_view bytes) {
    std::string copy(bytes);
    std::FILE* f = ::fmemopen(copy.data(), copy.size(), "rb");
    std::vector<Fields> out;
    if (copy.empty()) f = std::tmpfile();  // fmemopen refuses a size of 0
    TextInput in(f);
    BookingRecord r;
    while (ReadBookingRecord(in, r)) {
        out.push_back({std::string(r.BadgeNumber.view()), std::string(r.BookingDate.view()),
                       std::string(r.BookingTime.view()), std::string(r.MessageType.view()),
                       std::string(r.ReaderId.view()), std::string(r.BookingFlag.view())});
    }
    std::fclose(f);
    return out;
}

const Fields kFieldsA = {"4711         ", "311299", "080000", "A", "01", "0"};
const Fields kFieldsK = {"0000000004712", "010100", "123456", "K", "R2", "1"};

TEST(ReadBookingRecord, WholeRecordsOnly) {
    const std::string a(kRecordA), k(kRecordK);
    const struct {
        const char* name;
        std::string bytes;
        std::vector<Fields> records;
    } cases[] = {
        {"empty_file", "", {}},
        {"one", a, {kFieldsA}},
        {"two_back_to_back", a + k, {kFieldsA, kFieldsK}},
        {"fragment_of_1_dropped", a + "4", {kFieldsA}},
        {"fragment_of_28_dropped", a + k.substr(0, 28), {kFieldsA}},
        {"fragment_only", k.substr(0, 13), {}},
        // 0x1A ends the input where it stands; the record it cuts is dropped.
        {"eof_byte_between_records", a + "\x1A" + k, {kFieldsA}},
        {"eof_byte_inside_a_record", a + k.substr(0, 20) + "\x1A" + k.substr(20), {kFieldsA}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReadAll(c.bytes), c.records);
    }
}

TEST(ReadBookingRecord, LineEndsAreRecordData) {
    const std::string a(kRecordA);
    // CR LF inside the data is one LF byte: the fields after it shift by one against the file.
    EXPECT_EQ(ReadAll("4711\r\n" + a.substr(5)),
              (std::vector<Fields>{{"4711\n        ", "311299", "080000", "A", "01", "0"}}));
    // A lone CR is a byte of its own.
    EXPECT_EQ(ReadAll(a.substr(0, 28) + "\r"),
              (std::vector<Fields>{{"4711         ", "311299", "080000", "A", "01", "\r"}}));
    // Records separated by CR LF: the LF is the first byte of the next record, which is read
    // shifted by one byte; its last byte becomes a dropped fragment.
    EXPECT_EQ(
        ReadAll(a + "\r\n" + a),
        (std::vector<Fields>{kFieldsA, {"\n4711        ", " 31129", "908000", "0", "A0", "1"}}));
    // A CR at the very end, and a CR before 0x1A, stay CRs.
    EXPECT_EQ(ReadAll(a.substr(0, 28) + "\r\x1A" + "x"),
              (std::vector<Fields>{{"4711         ", "311299", "080000", "A", "01", "\r"}}));
}

TEST(ReadBookingRecord, NulByteEndsItsFieldOnly) {
    std::string bytes(kRecordA);
    bytes[2] = '\0';   // in the badge number
    bytes[26] = '\0';  // first byte of the reader
    BookingRecord r;
    r.BadgeNumber.fill_text(13, 'x');  // the record is zero-filled before each read
    std::FILE* f = ::fmemopen(bytes.data(), bytes.size(), "rb");
    TextInput in(f);
    ASSERT_TRUE(ReadBookingRecord(in, r));
    EXPECT_EQ(r.BadgeNumber.view(), "47");
    EXPECT_EQ(r.BookingDate.view(), "311299");
    EXPECT_EQ(r.ReaderId.view(), "");
    EXPECT_EQ(r.BookingFlag.view(), "0");
    EXPECT_FALSE(ReadBookingRecord(in, r));
    EXPECT_TRUE(r.BadgeNumber.empty());
    std::fclose(f);
}

TEST(BookingRecord, TwoCharacterMessageTypeStaysTerminated) {
    std::string bytes(kRecordA);
    std::FILE* f = ::fmemopen(bytes.data(), bytes.size(), "rb");
    TextInput in(f);
    BookingRecord r;
    ASSERT_TRUE(ReadBookingRecord(in, r));
    r.MessageType.assign("10");
    EXPECT_EQ(r.MessageType.view(), "10");
    EXPECT_EQ(r.ReaderId.view(), "01");
    EXPECT_EQ(r.BookingFlag.view(), "0");
    std::fclose(f);
}

TEST(TextOutput, LineFeedBecomesCrLf) {
    std::FILE* f = std::tmpfile();
    TextOutput out(f);
    EXPECT_TRUE(out.Write("a\nb\r\n\n"));
    EXPECT_TRUE(out.Write(""));
    EXPECT_TRUE(out.Flush());
    std::rewind(f);
    char buffer[32] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
    EXPECT_EQ(std::string(buffer, n), "a\r\nb\r\r\n\r\n");
    std::fclose(f);
}

TEST(TextOutput, FirstWriteErrorIsKept) {
    std::FILE* f = std::fopen("/dev/full", "wb");
    ASSERT_NE(f, nullptr);
    TextOutput out(f);
    EXPECT_FALSE(out.Write("line\n"));  // reported with the line itself, not at the end
    EXPECT_TRUE(out.failed());
    EXPECT_EQ(out.error_number(), ENOSPC);
    EXPECT_FALSE(out.Write("x"));
    EXPECT_FALSE(out.Flush());
    std::fclose(f);
}

}  // namespace
}  // namespace snp
