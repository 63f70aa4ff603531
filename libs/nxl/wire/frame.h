// Framing of the Nxl link protocol: every message is an 8-byte header
// ("NX", protocol version, message type, 32-bit payload length) followed by
// the payload. docs/nxl-protocol.md describes every type and payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "netio/message_buffer.h"

namespace qvc::wire {

inline constexpr uint8_t kProtocolVersion = 1;
inline constexpr size_t kHeaderSize = 8;
// Largest payload accepted from a peer; a bigger length ends the link.
inline constexpr uint32_t kMaxPayload = 4u * 1024u * 1024u;

enum class MsgType : uint8_t {
  // Session (both directions unless noted).
  kHello = 1,         // client -> device: versions the client speaks
  kChallenge = 2,     // device -> client: version chosen and login nonce
  kLogin = 3,         // client -> device: digest, user, channel, connect type
  kLoginOk = 4,       // device -> client: greeting text
  kLoginRefused = 5,  // device -> client: reason code and text
  kPing = 6,
  kPong = 7,
  kBye = 8,    // client -> device: orderly disconnect
  kClose = 9,  // device -> client: the device closes the link, with a text
  // Application data.
  kData = 16,      // client -> device: 32-bit type code and bytes
  kLive = 32,      // device -> client: frame type and bytes
  kPlayback = 33,  // device -> client: frame type and bytes
  kFileList = 34,  // device -> client: bytes
  kTalk = 35,      // device -> client: talk kind and bytes
  kText = 36,      // device -> client: text type and bytes
  kDownload = 37,  // device -> client: download type, total size and bytes
  // Directory service.
  kDirRegister = 48,    // device -> directory
  kDirRegistered = 49,  // directory -> device
  kDirLookup = 50,      // client -> directory
  kDirAnswer = 51,      // directory -> client
};

bool IsKnownType(uint8_t type);

// Reasons carried by kLoginRefused.
enum class Refusal : uint8_t {
  kWrongPassword = 1,
  kNoChannel = 2,
  kConnectType = 3,
  kClientLimit = 4,
  kVersion = 5,
  kOther = 6,
};

// The header and payload of one message, ready to send.
std::vector<uint8_t> EncodeFrame(MsgType type, const void* payload, size_t size);
// Same with the payload given in two parts (a small prefix and a body), so
// callers do not copy large bodies twice.
std::vector<uint8_t> EncodeFrame(MsgType type, const void* prefix, size_t prefix_size,
                                 const void* body, size_t body_size);
// The same appended to `out`, which may hold other messages already.
void AppendFrame(std::vector<uint8_t>* out, MsgType type, const void* prefix, size_t prefix_size,
                 const void* body, size_t body_size);

struct Frame {
  MsgType type{};
  std::vector<uint8_t> payload;
};

// A frame still inside the parser's buffer.
struct FrameView {
  MsgType type{};
  const uint8_t* payload = nullptr;
  size_t size = 0;
};

// Splits a byte stream into frames. Feed bytes as they arrive (or read them
// straight into Space and Commit them), then take frames with Next until it
// answers kNeedMore. Once it answers kError the stream is unusable: the
// caller ends the connection.
class FrameParser {
 public:
  enum class Status { kNeedMore, kFrame, kError };

  explicit FrameParser(uint32_t max_payload = kMaxPayload);
  void Feed(const uint8_t* data, size_t size) { buffer_.Feed(data, size); }
  // Free room at the end of the buffer for at least `min` bytes, and for the
  // whole of a frame whose header has arrived, so one read can complete it.
  // Commit tells how much was written there.
  std::pair<uint8_t*, size_t> Space(size_t min) { return buffer_.Space(min); }
  void Commit(size_t size) { buffer_.Commit(size); }
  // The payload of a view stays valid until the next Feed or Space.
  Status Next(FrameView* out);
  Status Next(Frame* out);
  // Why the last kError was answered.
  const std::string& error() const { return buffer_.error(); }

 private:
  netio::MessageBuffer buffer_;
};

}  // namespace qvc::wire
