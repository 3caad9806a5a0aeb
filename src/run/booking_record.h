// The input booking file: fixed 29-byte records without separators, read in text mode.
#pragma once

#include <cstddef>
#include <cstdio>

#include "text/field.h"

namespace snp {

/// One input record; each field has room for its terminator.  The whole record is zero-filled
/// before every read, so a NUL byte inside a field of the file ends that field's text early.
struct BookingRecord {
    Field<14> BadgeNumber;  // offset  0, 13 characters, may carry trailing blanks
    Field<7> BookingDate;   // offset 13,  6 characters, DDMMYY
    Field<7> BookingTime;   // offset 19,  6 characters, HHMM used
    Field<3> MessageType;   // offset 25,  1 character; room for the two-character code "10".."16"
    Field<3> ReaderId;      // offset 26,  2 characters
    Field<2> BookingFlag;   // offset 28,  1 character
};
static_assert(sizeof(BookingRecord) == 36);

/// A byte stream read in text mode: a CR LF pair arrives as one LF, a lone CR unchanged, and a
/// byte 0x1A ends the input as if the file ended there.
class TextInput {
public:
    explicit TextInput(std::FILE* file) : file_(file) {}
    /// Reads up to n bytes; fewer only at the end of the input (or on a read error).
    std::size_t Read(char* destination, std::size_t n);

private:
    std::FILE* file_;
    bool ended_ = false;
};

/// Reads the next record.  True when a complete record of 29 bytes was read, false at the end of
/// the input (a trailing fragment is dropped without a message).
bool ReadBookingRecord(TextInput& in, BookingRecord& record);

}  // namespace snp
