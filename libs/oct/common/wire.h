// The OCT wire format shared by the client library and the device engine:
// message types, the 16-byte frame header and bounds-checked little-endian
// readers and writers. docs/oct-protocol.md describes every message.
#pragma once

#include <octc/octc.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace octc::wire {

inline constexpr uint16_t kMagic = 0x544F;  // bytes 'O' 'T'
inline constexpr uint16_t kVersion = OCTC_PROTOCOL_VERSION;
inline constexpr uint16_t kMinVersion = 1;
inline constexpr size_t kHeaderSize = 16;
inline constexpr uint32_t kMaxPayload = 4u * 1024u * 1024u;
inline constexpr size_t kNonceSize = 32;
inline constexpr size_t kDigestSize = 32;
inline constexpr size_t kMaxText = 4096;  // longest string field
inline constexpr size_t kMaxDatagram = 1400;

enum class Type : uint16_t {
  kHello = 1,
  kChallenge = 2,
  kLogin = 3,
  kLoginResult = 4,
  kPing = 5,
  kPong = 6,
  kBye = 7,
  kError = 8,
  kDevInfoReq = 16,
  kDevInfoResp = 17,
  kRecListReq = 18,
  kRecListResp = 19,
  kConfigReq = 20,
  kConfigResp = 21,
  kNotice = 22,
  kKeyFrameReq = 23,
  kVodSpeedReq = 24,
  kVodSkipReq = 25,
  kResult = 31,
  kStreamOpen = 32,
  kStreamClose = 33,
  kVodOpen = 34,
  kVodClose = 35,
  kDownOpen = 36,
  kDownClose = 37,
  kChatOpen = 38,
  kChatClose = 39,
  kChatData = 40,
  kState = 48,
  kMediaInfo = 49,
  kVideo = 50,
  kAudio = 51,
  kDownData = 52,
  kDirRegister = 96,
  kDirRegisterResp = 97,
  kDirLookup = 98,
  kDirLookupResp = 99,
  kDirStatus = 100,
  kDirStatusResp = 101,
  kSearchProbe = 112,
  kSearchAnswer = 113,
};

struct Header {
  uint16_t magic = kMagic;
  Type type = Type::kPing;
  uint32_t length = 0;
  int32_t handle = 0;
  uint32_t seq = 0;
};

struct Frame {
  Header header;
  std::vector<uint8_t> payload;
};

void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]);
// False when the magic is wrong or the length exceeds the maximum.
bool DecodeHeader(const uint8_t in[kHeaderSize], Header& h);

// Appends little-endian fields to a growing buffer.
class Writer {
 public:
  Writer& U8(uint8_t v);
  Writer& U16(uint16_t v);
  Writer& U32(uint32_t v);
  Writer& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  Writer& U64(uint64_t v);
  Writer& Bytes(const void* data, size_t size);
  // A u16 length and the bytes; longer texts are cut to kMaxText.
  Writer& Text(std::string_view s);
  // A u32 length and the bytes.
  Writer& Blob(const void* data, size_t size);
  const std::vector<uint8_t>& data() const { return m_data; }
  std::vector<uint8_t> Take() { return std::move(m_data); }

 private:
  std::vector<uint8_t> m_data;
};

// Reads little-endian fields; every read is checked against the end and a
// failed read latches ok() to false and yields zeros or empty values.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  explicit Reader(const std::vector<uint8_t>& v) : Reader(v.data(), v.size()) {}
  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  int32_t I32() { return static_cast<int32_t>(U32()); }
  uint64_t U64();
  bool Bytes(void* out, size_t size);
  std::string Text();
  // A u32-length blob as a view into the buffer (empty on failure).
  std::string_view Blob();
  // The rest of the buffer.
  std::string_view Rest();
  bool ok() const { return m_ok; }
  bool AtEnd() const { return m_ok && m_pos == m_size; }
  size_t remaining() const { return m_size - m_pos; }

 private:
  const uint8_t* Take(size_t n);
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
  bool m_ok = true;
};

// A whole message: header followed by the payload.
std::vector<uint8_t> BuildMessage(Type type, int32_t handle, uint32_t seq,
                                  const std::vector<uint8_t>& payload);

}  // namespace octc::wire
