// Fuzz target: the booking-record reader over arbitrary bytes, text-mode translation included.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "run/booking_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::FILE* f = size > 0 ? ::fmemopen(bytes.data(), bytes.size(), "rb") : std::tmpfile();
    if (f == nullptr) return 0;
    snp::TextInput in(f);
    snp::BookingRecord record;
    std::size_t records = 0;
    while (snp::ReadBookingRecord(in, record)) {
        ++records;
        // Every field stays terminated inside its array.
        if (record.BadgeNumber.bytes.back() != '\0' || record.BookingFlag.bytes.back() != '\0' ||
            record.MessageType.view().size() > 1) {
            std::abort();
        }
    }
    // A CR LF pair shortens the input, nothing lengthens it.
    if (records > size / 29) std::abort();
    // After the end every further read reports the end as well.
    if (snp::ReadBookingRecord(in, record)) std::abort();
    std::fclose(f);
    return 0;
}
