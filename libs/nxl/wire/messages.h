// Payloads of the link and directory messages: one struct per message that
// carries fields, with an encoder and a checking decoder. Decoders refuse a
// payload whose size or fields are out of bounds.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "frame.h"

namespace qvc::wire {

inline constexpr size_t kNonceSize = 16;
inline constexpr size_t kDigestSize = 32;
inline constexpr size_t kMaxUserName = 64;
inline constexpr size_t kMaxGreeting = 1024;
inline constexpr size_t kMaxRefusalText = 255;
inline constexpr size_t kGroupField = 8;

struct Hello {
  uint16_t min_version = kProtocolVersion;
  uint16_t max_version = kProtocolVersion;
};
std::vector<uint8_t> Encode(const Hello& m);
bool Decode(const std::vector<uint8_t>& payload, Hello* m);

struct Challenge {
  uint16_t version = kProtocolVersion;
  std::array<uint8_t, kNonceSize> nonce{};
};
std::vector<uint8_t> Encode(const Challenge& m);
bool Decode(const std::vector<uint8_t>& payload, Challenge* m);

struct Login {
  std::array<uint8_t, kDigestSize> digest{};
  int32_t device_channel = 0;
  int32_t connect_type = 0;
  std::string user;
};
std::vector<uint8_t> Encode(const Login& m);
bool Decode(const std::vector<uint8_t>& payload, Login* m);

struct LoginRefused {
  Refusal reason = Refusal::kOther;
  std::string text;
};
std::vector<uint8_t> Encode(const LoginRefused& m);
bool Decode(const std::vector<uint8_t>& payload, LoginRefused* m);

// A typed payload: one leading byte (frame type, talk kind, text type) and
// the bytes after it. Used by kLive, kPlayback, kTalk and kText.
std::vector<uint8_t> EncodeTyped(MsgType type, uint8_t sub_type, const uint8_t* data, size_t size);

// kData: the client's 32-bit type code and its bytes.
std::vector<uint8_t> EncodeData(uint32_t type, const uint8_t* data, size_t size);

// kDownload: download type, total size, bytes.
std::vector<uint8_t> EncodeDownload(uint8_t type, uint32_t total, const uint8_t* data, size_t size);

// Directory entries. Groups are kept in upper case, at most 7 letters.
struct DirRegister {
  std::string group;
  int32_t number = 0;
  uint32_t address = 0;  // network order; 0: the address the device connects from
  uint16_t port = 0;
  int32_t channel_count = 0;
};
std::vector<uint8_t> Encode(const DirRegister& m);
bool Decode(const std::vector<uint8_t>& payload, DirRegister* m);

struct DirLookup {
  std::string group;
  int32_t number = 0;
};
std::vector<uint8_t> Encode(const DirLookup& m);
bool Decode(const std::vector<uint8_t>& payload, DirLookup* m);

struct DirAnswer {
  bool found = false;
  uint32_t address = 0;  // network order
  uint16_t port = 0;
  int32_t channel_count = 0;
};
std::vector<uint8_t> Encode(const DirAnswer& m);
bool Decode(const std::vector<uint8_t>& payload, DirAnswer* m);

// Device groups compare without regard to case: the normal form is upper
// case, cut to 7 letters.
std::string NormalGroup(const std::string& group);

}  // namespace qvc::wire
