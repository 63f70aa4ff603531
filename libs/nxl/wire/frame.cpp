// Encoding and parsing of link frames.
#include "frame.h"

#include <algorithm>
#include <cstring>

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

namespace {
// A buffer left larger than this by a big frame is given back once empty.
constexpr size_t kKeptCapacity = 256 * 1024;
}  // namespace

void FrameParser::Feed(const uint8_t* data, size_t size) {
  if (failed_ || size == 0) return;
  std::memcpy(Space(size).first, data, size);
  Commit(size);
}

std::pair<uint8_t*, size_t> FrameParser::Space(size_t min) {
  size_t avail = end_ - start_;
  size_t want = min;
  if (avail >= kHeaderSize) {
    uint64_t whole = kHeaderSize + uint64_t{GetU32(buffer_.get() + start_ + 4)};
    if (whole <= kHeaderSize + uint64_t{max_payload_} && whole > avail) {
      want = std::max<size_t>(want, static_cast<size_t>(whole - avail));
    }
  }
  if (avail == 0) {
    start_ = end_ = 0;
    if (capacity_ > kKeptCapacity && want <= kKeptCapacity) {
      buffer_.reset();
      capacity_ = 0;
    }
  }
  if (capacity_ - end_ < want) {
    // Move the partial frame to the front; grow when that is not enough.
    if (start_ > 0) {
      std::memmove(buffer_.get(), buffer_.get() + start_, avail);
      start_ = 0;
      end_ = avail;
    }
    if (capacity_ - end_ < want) {
      size_t capacity = std::max(end_ + want, capacity_ * 2);
      auto bigger = std::make_unique_for_overwrite<uint8_t[]>(capacity);
      if (avail > 0) std::memcpy(bigger.get(), buffer_.get(), avail);
      buffer_ = std::move(bigger);
      capacity_ = capacity;
    }
  }
  return {buffer_.get() + end_, capacity_ - end_};
}

void FrameParser::Commit(size_t size) {
  end_ = std::min(capacity_, end_ + size);
}

FrameParser::Status FrameParser::Fail(std::string why) {
  failed_ = true;
  error_ = std::move(why);
  start_ = end_ = 0;
  return Status::kError;
}

FrameParser::Status FrameParser::Next(FrameView* out) {
  if (failed_) return Status::kError;
  size_t avail = end_ - start_;
  const uint8_t* p = buffer_.get() + start_;
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
  out->payload = p + kHeaderSize;
  out->size = length;
  start_ += kHeaderSize + length;
  return Status::kFrame;
}

FrameParser::Status FrameParser::Next(Frame* out) {
  FrameView view;
  Status status = Next(&view);
  if (status == Status::kFrame) {
    out->type = view.type;
    out->payload.assign(view.payload, view.payload + view.size);
  }
  return status;
}

}  // namespace qvc::wire
