// Reading the 29-byte booking records of the input file.
#include "run/booking_record.h"

#include <cstddef>
#include <cstdio>

#include "text/text_stream.h"

namespace snp {

std::size_t TextInput::Read(char* destination, std::size_t n) {
    std::size_t count = 0;
    while (count < n) {
        const int c = ReadTextModeChar(file_, ended_);
        if (c == EOF) break;
        destination[count++] = static_cast<char>(c);
    }
    return count;
}

namespace {

// One item of `Size` bytes into a field; counts the item only when it was read whole.
template <std::size_t Size, std::size_t N>
std::size_t ReadItem(TextInput& in, Field<N>& field) {
    static_assert(Size < N, "the field keeps room for its terminator");
    return in.Read(field.data(), Size) == Size ? Size : 0;
}

}  // namespace

bool ReadBookingRecord(TextInput& in, BookingRecord& record) {
    record = BookingRecord{};
    // All six reads are made even after a short one; only their sum decides whether the record is
    // whole.  A line end in the file is record data like any other byte.
    std::size_t total = 0;
    total += ReadItem<13>(in, record.BadgeNumber);
    total += ReadItem<6>(in, record.BookingDate);
    total += ReadItem<6>(in, record.BookingTime);
    total += ReadItem<1>(in, record.MessageType);
    total += ReadItem<2>(in, record.ReaderId);
    total += ReadItem<1>(in, record.BookingFlag);
    return total == 29;
}

}  // namespace snp
