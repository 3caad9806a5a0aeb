// TDS packets: every message travels as one or more packets of at most the negotiated size, each
// with an 8-byte header (type, status, big-endian length including the header, SPID, packet id,
// window).  The last packet of a message carries the end-of-message status bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/wire.h"

namespace tdslite::protocol {

enum PacketType : std::uint8_t {
    kSqlBatch = 0x01,
    kRpc = 0x03,
    kTabularResult = 0x04,  // every server answer
    kAttention = 0x06,
    kTransactionManager = 0x0E,
    kLogin7 = 0x10,
    kPrelogin = 0x12,
};

inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::uint8_t kStatusEndOfMessage = 0x01;
/// The packet size the server announces at login and splits its answers at.
inline constexpr std::size_t kPacketSize = 4096;
/// Largest client message accepted; anything bigger is treated as garbage.
inline constexpr std::size_t kMaxMessageSize = 4 * 1024 * 1024;
/// Largest packet a client may send (the largest packet size TDS lets a client ask for).
inline constexpr std::size_t kMaxPacketSize = 32768;

/// One complete client message: the type of its packets and their payloads joined.
struct ClientMessage {
    std::uint8_t type = 0;
    Bytes payload;
};

/// Reassembles client messages from a byte stream that may arrive in arbitrary pieces.
class MessageAssembler {
  public:
    enum class Status { kNeedMore, kReady, kError };

    explicit MessageAssembler(std::size_t max_message_size = kMaxMessageSize)
        : max_message_size_(max_message_size) {}

    /// Adds received bytes.
    void Append(ByteSpan bytes);

    /// kReady: `out` holds the next complete message.  kNeedMore: no complete message is buffered
    /// yet.  kError: the stream is not TDS from a client (a packet type no client sends, unknown
    /// status bits, a packet length below the header size or above kMaxPacketSize, a message over
    /// the size limit, or packets of different types inside one message); error() says which, and
    /// every later call answers kError again.  A header is judged as soon as its 8 bytes are in,
    /// so garbage is refused without waiting for the body its length announces.
    Status Next(ClientMessage& out);

    const std::string& error() const { return error_; }

  private:
    Status Fail(std::string text);

    std::size_t max_message_size_;
    Bytes buffer_;              // received, not yet consumed
    std::size_t consumed_ = 0;  // bytes at the front of buffer_ already taken
    ClientMessage partial_;     // packets of the message being assembled
    bool in_message_ = false;
    std::string error_;
};

/// Appends a server message of `payload` to `out`, split into packets of at most `packet_size`
/// bytes (header included).  An empty payload still yields one packet.
void AppendPackets(Bytes& out, std::uint8_t type, ByteSpan payload, std::uint16_t spid,
                   std::size_t packet_size = kPacketSize);

}  // namespace tdslite::protocol
