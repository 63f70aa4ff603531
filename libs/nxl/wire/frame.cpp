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
  AppendFrame(&out, type, prefix, prefix_size, body, body_size);
  return out;
}

void AppendFrame(std::vector<uint8_t>* out, MsgType type, const void* prefix, size_t prefix_size,
                 const void* body, size_t body_size) {
  Writer w(*out);
  w.U8('N');
  w.U8('X');
  w.U8(kProtocolVersion);
  w.U8(static_cast<uint8_t>(type));
  w.U32(static_cast<uint32_t>(prefix_size + body_size));
  w.Bytes(prefix, prefix_size);
  w.Bytes(body, body_size);
}

namespace {

// Checks the header bytes as soon as they arrive, so garbage is refused
// without waiting for a length's worth of it.
netio::Extent MeasureFrame(const uint8_t* p, size_t avail, uint32_t max_payload) {
  if (avail >= 1 && p[0] != 'N') return {0, 0, "bad magic"};
  if (avail >= 2 && p[1] != 'X') return {0, 0, "bad magic"};
  if (avail >= 3 && p[2] != kProtocolVersion) return {0, 0, "unsupported protocol version"};
  if (avail >= 4 && !IsKnownType(p[3])) return {0, 0, "unknown message type"};
  if (avail < kHeaderSize) return {};
  uint32_t length = GetU32(p + 4);
  if (length > max_payload) return {0, 0, "message too long"};
  return {kHeaderSize, length, nullptr};
}

}  // namespace

FrameParser::FrameParser(uint32_t max_payload)
    : buffer_([max_payload](const uint8_t* p, size_t avail) {
        return MeasureFrame(p, avail, max_payload);
      }) {}

FrameParser::Status FrameParser::Next(FrameView* out) {
  netio::MessageView view;
  switch (buffer_.Next(&view)) {
    case netio::MessageBuffer::Status::kNeedMore: return Status::kNeedMore;
    case netio::MessageBuffer::Status::kError: return Status::kError;
    case netio::MessageBuffer::Status::kMessage: break;
  }
  out->type = static_cast<MsgType>(view.head[3]);
  out->payload = view.body;
  out->size = view.body_size;
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
