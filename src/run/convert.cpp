// The conversion of one booking.
#include "run/run.h"

namespace snp {

bool ConvertBooking(RunContext& /*run*/, BookingRecord& booking) {
    // A blank message type drops the booking without a message.
    if (booking.MessageType.view() == " ") return true;
    return true;
}

}  // namespace snp
