#include "wire.h"

namespace octc::wire {
namespace {

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]) {
  Put16(out, h.magic);
  Put16(out + 2, static_cast<uint16_t>(h.type));
  Put32(out + 4, h.length);
  Put32(out + 8, static_cast<uint32_t>(h.handle));
  Put32(out + 12, h.seq);
}

bool DecodeHeader(const uint8_t in[kHeaderSize], Header& h) {
  h.magic = Get16(in);
  h.type = static_cast<Type>(Get16(in + 2));
  h.length = Get32(in + 4);
  h.handle = static_cast<int32_t>(Get32(in + 8));
  h.seq = Get32(in + 12);
  return h.magic == kMagic && h.length <= kMaxPayload;
}

Writer& Writer::U8(uint8_t v) {
  m_data.push_back(v);
  return *this;
}
Writer& Writer::U16(uint16_t v) {
  uint8_t b[2];
  Put16(b, v);
  return Bytes(b, 2);
}
Writer& Writer::U32(uint32_t v) {
  uint8_t b[4];
  Put32(b, v);
  return Bytes(b, 4);
}
Writer& Writer::U64(uint64_t v) {
  U32(static_cast<uint32_t>(v));
  return U32(static_cast<uint32_t>(v >> 32));
}
Writer& Writer::Bytes(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  if (size > 0) m_data.insert(m_data.end(), p, p + size);
  return *this;
}
Writer& Writer::Text(std::string_view s) {
  if (s.size() > kMaxText) s = s.substr(0, kMaxText);
  U16(static_cast<uint16_t>(s.size()));
  return Bytes(s.data(), s.size());
}
Writer& Writer::Blob(const void* data, size_t size) {
  U32(static_cast<uint32_t>(size));
  return Bytes(data, size);
}

const uint8_t* Reader::Take(size_t n) {
  if (!m_ok || n > m_size - m_pos) {
    m_ok = false;
    return nullptr;
  }
  const uint8_t* p = m_data + m_pos;
  m_pos += n;
  return p;
}
uint8_t Reader::U8() {
  const uint8_t* p = Take(1);
  return p ? p[0] : 0;
}
uint16_t Reader::U16() {
  const uint8_t* p = Take(2);
  return p ? Get16(p) : 0;
}
uint32_t Reader::U32() {
  const uint8_t* p = Take(4);
  return p ? Get32(p) : 0;
}
uint64_t Reader::U64() {
  uint64_t lo = U32();
  uint64_t hi = U32();
  return lo | (hi << 32);
}
bool Reader::Bytes(void* out, size_t size) {
  const uint8_t* p = Take(size);
  if (!p) return false;
  if (size > 0) std::memcpy(out, p, size);
  return true;
}
std::string Reader::Text() {
  uint16_t n = U16();
  if (n > kMaxText) {
    m_ok = false;
    return {};
  }
  const uint8_t* p = Take(n);
  return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
}
std::string_view Reader::Blob() {
  uint32_t n = U32();
  const uint8_t* p = Take(n);
  return p ? std::string_view(reinterpret_cast<const char*>(p), n) : std::string_view();
}
std::string_view Reader::Rest() {
  size_t n = m_ok ? m_size - m_pos : 0;
  const uint8_t* p = Take(n);
  return p ? std::string_view(reinterpret_cast<const char*>(p), n) : std::string_view();
}

std::vector<uint8_t> BuildMessage(Type type, int32_t handle, uint32_t seq,
                                  const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out(kHeaderSize + payload.size());
  Header h;
  h.type = type;
  h.length = static_cast<uint32_t>(payload.size());
  h.handle = handle;
  h.seq = seq;
  EncodeHeader(h, out.data());
  if (!payload.empty()) std::memcpy(out.data() + kHeaderSize, payload.data(), payload.size());
  return out;
}

}  // namespace octc::wire
