// The canteen record built from a booking: the values of its seven fields and nothing else.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "run/run.h"

namespace snp {
namespace {

BookingRecord Booking(std::string_view badge, std::string_view date, std::string_view time,
                      std::string_view flag) {
    BookingRecord r;
    r.BadgeNumber.assign(badge);
    r.BookingDate.assign(date);
    r.BookingTime.assign(time);
    r.MessageType.assign("K");
    r.ReaderId.assign("01");
    r.BookingFlag.assign(flag);
    return r;
}

/// A record full of 'x', as if an earlier booking had filled every byte: the build must clear it.
sqlZkv321Kan SoiledRecord() {
    sqlZkv321Kan r;
    r.KanPor.bytes.fill('x');
    r.KanFcd.bytes.fill('x');
    r.KanDtm.bytes.fill('x');
    r.KanUhr.bytes.fill('x');
    r.KanMsk.bytes.fill('x');
    r.KanAwn.bytes.fill('x');
    r.KanDat.bytes.fill('x');
    return r;
}

struct CanteenCase {
    const char* name;
    std::string_view badge, date, time, flag;
    std::string_view dtm, uhr, awn, dat;
};

constexpr CanteenCase kCanteen[] = {
    // Year, month, day behind the fixed century 20; HHMM of the time; flag 1 only gives 0001.
    {"first_of_february_03", "4711         ", "010203", "074500", "1", "20030201", "0745",
     "4711    ", "0001"},
    // The century stays 20 for years 50 to 99 as well.
    {"year_99_keeps_century_20", "4711         ", "311299", "123059", "0", "20991231", "1230",
     "4711    ", "0000"},
    // Only the first eight characters of the badge number, as read.
    {"long_badge_cut_to_eight", "1234567890123", "150626", "235900", "2", "20260615", "2359",
     "12345678", "0000"},
    {"flag_blank", "12'4         ", "150626", "0800  ", " ", "20260615", "0800", "12'4    ",
     "0000"},
};

TEST(CanteenRecord, FieldsFollowTheBooking) {
    for (const CanteenCase& c : kCanteen) {
        SCOPED_TRACE(c.name);
        sqlZkv321Kan record = SoiledRecord();
        BuildCanteenRecord(Booking(c.badge, c.date, c.time, c.flag), record);

        EXPECT_EQ(record.KanPor.view(), "01");
        EXPECT_EQ(record.KanFcd.view(), "_K");
        EXPECT_EQ(record.KanDtm.view(), c.dtm);
        EXPECT_EQ(record.KanUhr.view(), c.uhr);
        EXPECT_EQ(record.KanMsk.view(), "K01");
        EXPECT_EQ(record.KanAwn.view(), c.awn);
        EXPECT_EQ(record.KanDat.view(), c.dat);
    }
}

TEST(CanteenRecord, EveryByteBehindAFieldIsZero) {
    sqlZkv321Kan record = SoiledRecord();
    BuildCanteenRecord(Booking("4711         ", "010203", "074500", "1"), record);

    // The whole record, field by field: text, then zero bytes to the end of the slot.
    constexpr std::string_view kExpected(
        "01\0"
        "_K\0"
        "20030201\0"
        "0745\0"
        "K01\0"
        "4711    \0\0\0\0\0\0"
        "0001",
        3 + 3 + 9 + 5 + 4 + 14 + 4);
    const std::string_view bytes(reinterpret_cast<const char*>(&record), sizeof record);
    EXPECT_EQ(bytes.substr(0, kExpected.size()), kExpected);
    EXPECT_EQ(bytes.substr(kExpected.size()), std::string(sizeof record - kExpected.size(), '\0'));
}

}  // namespace
}  // namespace snp
