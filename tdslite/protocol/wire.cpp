#include "protocol/wire.h"

#include <algorithm>

#include "protocol/codec.h"

namespace tdslite::protocol {

bool Reader::Need(std::size_t n) {
    if (!ok_ || data_.size() - pos_ < n) {
        ok_ = false;
        return false;
    }
    return true;
}

bool Reader::U8(std::uint8_t& v) {
    if (!Need(1)) return false;
    v = data_[pos_++];
    return true;
}

bool Reader::U16(std::uint16_t& v) {
    if (!Need(2)) return false;
    v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
}

bool Reader::U16BE(std::uint16_t& v) {
    if (!Need(2)) return false;
    v = static_cast<std::uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
    pos_ += 2;
    return true;
}

bool Reader::U32(std::uint32_t& v) {
    if (!Need(4)) return false;
    v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data_[pos_ + static_cast<std::size_t>(i)];
    pos_ += 4;
    return true;
}

bool Reader::I32(std::int32_t& v) {
    std::uint32_t u = 0;
    if (!U32(u)) return false;
    v = static_cast<std::int32_t>(u);
    return true;
}

bool Reader::U64(std::uint64_t& v) {
    if (!Need(8)) return false;
    v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | data_[pos_ + static_cast<std::size_t>(i)];
    pos_ += 8;
    return true;
}

bool Reader::Skip(std::size_t n) {
    if (!Need(n)) return false;
    pos_ += n;
    return true;
}

bool Reader::Take(std::size_t n, ByteSpan& out) {
    if (!Need(n)) return false;
    out = data_.subspan(pos_, n);
    pos_ += n;
    return true;
}

void Writer::U16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Writer::U16BE(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
    out_.push_back(static_cast<std::uint8_t>(v));
}

void Writer::U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Writer::U64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Writer::Ucs2(std::string_view cp1252) {
    for (char c : cp1252) U16(Cp1252ToUnicode(static_cast<std::uint8_t>(c)));
}

void Writer::BVarchar(std::string_view cp1252) {
    const std::string_view s = cp1252.substr(0, std::min<std::size_t>(cp1252.size(), 255));
    U8(static_cast<std::uint8_t>(s.size()));
    Ucs2(s);
}

void Writer::UsVarchar(std::string_view cp1252) {
    const std::string_view s = cp1252.substr(0, std::min<std::size_t>(cp1252.size(), 65535));
    U16(static_cast<std::uint16_t>(s.size()));
    Ucs2(s);
}

void Writer::Patch16(std::size_t at, std::uint16_t v) {
    out_[at] = static_cast<std::uint8_t>(v);
    out_[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace tdslite::protocol
