// Encoding and parsing of link frames.
#include "frame.h"

#include "byte_io.h"

namespace qvc::wire {

bool IsKnownType(uint8_t type) {
  return (type >= 1 && type <= 9) || type == 16 || (type >= 32 && type <= 37) ||
         (type >= 48 && type <= 51);
}

std::vector<uint8_t> EncodeFrame(MsgType type, const void* payload, size_t size) {
  return EncodeFrame(type, payload, size, nullptr, 0);
}

std::vector<uint8_t> EncodeFrame(MsgType type, const void* prefix, size_t prefix_size,
                                 const void* body, size_t body_size) {
  std::vector<uint8_t> out;
  out.reserve(kHeaderSize + prefix_size + body_size);
  Writer w(out);
  w.U8('N');
  w.U8('X');
  w.U8(kProtocolVersion);
  w.U8(static_cast<uint8_t>(type));
  w.U32(static_cast<uint32_t>(prefix_size + body_size));
  w.Bytes(prefix, prefix_size);
  w.Bytes(body, body_size);
  return out;
}

void FrameParser::Feed(const uint8_t* data, size_t size) {
  if (failed_ || size == 0) return;
  // Drop consumed bytes before growing, so the buffer never holds more than
  // one partial frame plus the newest read.
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + size);
}

FrameParser::Status FrameParser::Fail(std::string why) {
  failed_ = true;
  error_ = std::move(why);
  buffer_.clear();
  start_ = 0;
  return Status::kError;
}

FrameParser::Status FrameParser::Next(Frame* out) {
  if (failed_) return Status::kError;
  size_t avail = buffer_.size() - start_;
  const uint8_t* p = buffer_.data() + start_;
  // Check the header bytes as soon as they arrive, so garbage is refused
  // without waiting for a length's worth of it.
  if (avail >= 1 && p[0] != 'N') return Fail("bad magic");
  if (avail >= 2 && p[1] != 'X') return Fail("bad magic");
  if (avail >= 3 && p[2] != kProtocolVersion) return Fail("unsupported protocol version");
  if (avail >= 4 && !IsKnownType(p[3])) return Fail("unknown message type");
  if (avail < kHeaderSize) return Status::kNeedMore;
  uint32_t length = GetU32(p + 4);
  if (length > max_payload_) return Fail("message too long");
  if (avail - kHeaderSize < length) return Status::kNeedMore;
  out->type = static_cast<MsgType>(p[3]);
  out->payload.assign(p + kHeaderSize, p + kHeaderSize + length);
  start_ += kHeaderSize + length;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return Status::kFrame;
}

}  // namespace qvc::wire
