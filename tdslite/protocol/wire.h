// Byte-level reading and writing of TDS data: little-endian integers, big-endian packet header
// fields, and the length-prefixed UCS-2 strings of the token stream.
//
// Reader never reads outside its span: every accessor returns false once the data runs short, and
// the reader stays failed from then on, so a parser may check once after a group of reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tdslite::protocol {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;

class Reader {
  public:
    explicit Reader(ByteSpan data) : data_(data) {}

    bool ok() const { return ok_; }
    std::size_t offset() const { return pos_; }
    std::size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
    bool at_end() const { return ok_ && pos_ == data_.size(); }

    bool U8(std::uint8_t& v);
    bool U16(std::uint16_t& v);  // little-endian
    bool U16BE(std::uint16_t& v);
    bool U32(std::uint32_t& v);
    bool I32(std::int32_t& v);
    bool U64(std::uint64_t& v);
    bool Skip(std::size_t n);
    /// The next n bytes as a span into the reader's data.
    bool Take(std::size_t n, ByteSpan& out);
    /// Marks the reader failed (a parser found a value it cannot accept).
    void Fail() { ok_ = false; }

  private:
    bool Need(std::size_t n);
    ByteSpan data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

/// Appends to a byte vector.  Length fields that depend on what follows are written as a
/// placeholder first and patched with Patch16 once the part they cover is complete.
class Writer {
  public:
    explicit Writer(Bytes& out) : out_(out) {}

    std::size_t size() const { return out_.size(); }
    void U8(std::uint8_t v) { out_.push_back(v); }
    void U16(std::uint16_t v);
    void U16BE(std::uint16_t v);
    void U32(std::uint32_t v);
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void U64(std::uint64_t v);
    void Raw(ByteSpan bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
    void Raw(std::string_view bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
    /// cp1252 text as UCS-2LE, no length prefix.
    void Ucs2(std::string_view cp1252);
    /// B_VARCHAR: a one-byte character count and UCS-2LE; texts over 255 characters are cut.
    void BVarchar(std::string_view cp1252);
    /// US_VARCHAR: a two-byte character count and UCS-2LE; texts over 65535 characters are cut.
    void UsVarchar(std::string_view cp1252);
    /// Overwrites two bytes at `at` with v, little-endian.
    void Patch16(std::size_t at, std::uint16_t v);

  private:
    Bytes& out_;
};

}  // namespace tdslite::protocol
