// Little-endian byte access and bounded readers/writers for everything the
// Nxl library puts on or takes off the network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace qvc::wire {

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Appends fields to a byte vector.
class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) {
    uint8_t b[2];
    PutU16(b, v);
    Bytes(b, 2);
  }
  void U32(uint32_t v) {
    uint8_t b[4];
    PutU32(b, v);
    Bytes(b, 4);
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  // An IPv4 address held in network order (as in in_addr), written as its
  // four bytes in memory order.
  void Addr(uint32_t network_order) { Bytes(&network_order, 4); }
  void Bytes(const void* data, size_t n) {
    if (n == 0) return;
    size_t at = out_.size();
    out_.resize(at + n);
    std::memcpy(out_.data() + at, data, n);
  }
  // A text in a zero-padded field of `size` bytes; it is cut to size - 1 so
  // the field always holds a terminator.
  void FixedText(std::string_view text, size_t size) {
    size_t n = text.size() < size ? text.size() : size - 1;
    Bytes(text.data(), n);
    out_.resize(out_.size() + size - n, 0);
  }

 private:
  std::vector<uint8_t>& out_;
};

// Reads fields from a byte range. Every read is bounds-checked; once a read
// fails the reader stays failed and every further read yields zeros.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  size_t remaining() const { return ok_ ? size_ - pos_ : 0; }
  uint8_t U8() {
    const uint8_t* p = Take(1);
    return p ? p[0] : 0;
  }
  uint16_t U16() {
    const uint8_t* p = Take(2);
    return p ? GetU16(p) : 0;
  }
  uint32_t U32() {
    const uint8_t* p = Take(4);
    return p ? GetU32(p) : 0;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  uint32_t Addr() {
    uint32_t v = 0;
    if (const uint8_t* p = Take(4)) std::memcpy(&v, p, 4);
    return v;
  }
  // Pointer to the next n bytes, or null when fewer remain.
  const uint8_t* Take(size_t n) {
    if (!ok_ || n > size_ - pos_) {
      ok_ = false;
      return nullptr;
    }
    const uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }
  // A zero-padded text field of `size` bytes: the text up to the first zero
  // byte, never beyond the field.
  std::string FixedText(size_t size) {
    const uint8_t* p = Take(size);
    if (!p) return {};
    size_t n = 0;
    while (n < size && p[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace qvc::wire
