#include "protocol/packet.h"

#include <algorithm>
#include <utility>

namespace tdslite::protocol {
namespace {

// Packet types a client sends: batch, RPC, attention, bulk load, transaction manager, LOGIN7,
// SSPI, PRELOGIN.
bool IsClientPacketType(std::uint8_t type) {
    switch (type) {
        case 0x01:
        case 0x03:
        case 0x06:
        case 0x07:
        case 0x0E:
        case 0x10:
        case 0x11:
        case 0x12:
            return true;
        default:
            return false;
    }
}

// End of message, ignore this event, reset connection, reset connection keeping the transaction.
constexpr std::uint8_t kKnownStatusBits = 0x01 | 0x02 | 0x08 | 0x10;

}  // namespace

void MessageAssembler::Append(ByteSpan bytes) {
    if (!error_.empty()) return;
    if (consumed_ > 0 && consumed_ >= buffer_.size() / 2) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
        consumed_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

MessageAssembler::Status MessageAssembler::Fail(std::string text) {
    error_ = std::move(text);
    buffer_.clear();
    consumed_ = 0;
    partial_ = {};
    return Status::kError;
}

MessageAssembler::Status MessageAssembler::Next(ClientMessage& out) {
    if (!error_.empty()) return Status::kError;
    for (;;) {
        const std::size_t available = buffer_.size() - consumed_;
        if (available < kHeaderSize) return Status::kNeedMore;
        const std::uint8_t* header = buffer_.data() + consumed_;
        const std::uint8_t type = header[0];
        const std::uint8_t status = header[1];
        const std::size_t length = static_cast<std::size_t>((header[2] << 8) | header[3]);
        if (!IsClientPacketType(type)) return Fail("not a client packet type");
        if (status & ~kKnownStatusBits) return Fail("unknown packet status bits");
        if (length < kHeaderSize) return Fail("packet length below the header size");
        if (length > kMaxPacketSize) return Fail("packet longer than any packet size");
        if (available < length) return Status::kNeedMore;

        if (!in_message_) {
            partial_.type = type;
            partial_.payload.clear();
            in_message_ = true;
        } else if (type != partial_.type) {
            return Fail("packet type changed inside a message");
        }
        const std::size_t body = length - kHeaderSize;
        if (partial_.payload.size() + body > max_message_size_)
            return Fail("message exceeds the size limit");
        partial_.payload.insert(partial_.payload.end(), header + kHeaderSize, header + length);
        consumed_ += length;

        if (status & kStatusEndOfMessage) {
            in_message_ = false;
            out = std::move(partial_);
            partial_ = {};
            return Status::kReady;
        }
    }
}

void AppendPackets(Bytes& out, std::uint8_t type, ByteSpan payload, std::uint16_t spid,
                   std::size_t packet_size) {
    const std::size_t room =
        std::clamp<std::size_t>(packet_size, kHeaderSize + 1, 0xFFFF) - kHeaderSize;
    std::size_t offset = 0;
    std::uint8_t packet_id = 1;
    Writer w(out);
    do {
        const std::size_t n = std::min(room, payload.size() - offset);
        const bool last = offset + n == payload.size();
        w.U8(type);
        w.U8(last ? kStatusEndOfMessage : 0);
        w.U16BE(static_cast<std::uint16_t>(n + kHeaderSize));
        w.U16BE(spid);
        w.U8(packet_id++);
        w.U8(0);
        w.Raw(payload.subspan(offset, n));
        offset += n;
    } while (offset < payload.size());
}

}  // namespace tdslite::protocol
