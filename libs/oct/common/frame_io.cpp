#include "frame_io.h"

namespace octc::net {
namespace {

netio::Extent MeasureFrame(const uint8_t* data, size_t size) {
  if (size < wire::kHeaderSize) return {};
  wire::Header h;
  if (!wire::DecodeHeader(data, h)) return {0, 0, "malformed header"};
  return {wire::kHeaderSize, h.length, nullptr};
}

}  // namespace

ReadResult ReadFrame(netio::Socket fd, int wait_ms, wire::Frame& out) {
  switch (netio::WaitFor(fd, netio::Events::kReadable,
                         netio::Clock::now() + std::chrono::milliseconds(wait_ms))) {
    case netio::WaitResult::kReady: break;
    case netio::WaitResult::kTimeout:
    case netio::WaitResult::kWoken: return ReadResult::kIdle;
    case netio::WaitResult::kError: return ReadResult::kError;
  }
  uint8_t head[wire::kHeaderSize];
  switch (netio::ReceiveAll(fd, head, sizeof head)) {
    case netio::Received::kData: break;
    case netio::Received::kEnded: return ReadResult::kClosed;
    default: return ReadResult::kError;
  }
  if (!wire::DecodeHeader(head, out.header)) return ReadResult::kMalformed;
  out.payload.resize(out.header.length);
  if (out.header.length > 0 &&
      netio::ReceiveAll(fd, out.payload.data(), out.header.length) != netio::Received::kData)
    return ReadResult::kError;
  return ReadResult::kFrame;
}

FrameReader::FrameReader() : m_reader(MeasureFrame) {}

ReadResult FrameReader::Read(netio::Socket fd, int wait_ms, wire::Frame& out) {
  const uint8_t* head = nullptr;
  switch (m_reader.Read(fd, wait_ms, &head, &out.payload)) {
    case netio::MessageReader::Result::kMessage: break;
    case netio::MessageReader::Result::kIdle: return ReadResult::kIdle;
    case netio::MessageReader::Result::kClosed: return ReadResult::kClosed;
    case netio::MessageReader::Result::kMalformed: return ReadResult::kMalformed;
    case netio::MessageReader::Result::kError: return ReadResult::kError;
  }
  wire::DecodeHeader(head, out.header);
  return ReadResult::kFrame;
}

bool FrameConn::Send(wire::Type type, int32_t handle, uint32_t seq,
                     const std::vector<uint8_t>& payload) {
  if (payload.size() > wire::kMaxPayload) return false;
  return SendRaw(wire::BuildMessage(type, handle, seq, payload));
}

bool FrameConn::SendRaw(const std::vector<uint8_t>& bytes) {
  return SendParts(bytes.data(), bytes.size(), nullptr, 0);
}

bool FrameConn::SendGather(wire::Type type, int32_t handle, uint32_t seq,
                           const std::vector<uint8_t>& prefix, const uint8_t* data, size_t size) {
  if (prefix.size() + size > wire::kMaxPayload) return false;
  std::vector<uint8_t> head(wire::kHeaderSize);
  wire::Header h;
  h.type = type;
  h.length = static_cast<uint32_t>(prefix.size() + size);
  h.handle = handle;
  h.seq = seq;
  wire::EncodeHeader(h, head.data());
  head.insert(head.end(), prefix.begin(), prefix.end());
  return SendParts(head.data(), head.size(), data, size);
}

bool FrameConn::SendParts(const uint8_t* head, size_t head_size, const uint8_t* body,
                          size_t body_size) {
  std::lock_guard<std::mutex> lock(m_sendLock);
  if (m_down.load()) return false;
  if (netio::SendAll(m_fd.get(), head, head_size, body, body_size)) return true;
  m_down = true;
  netio::Shutdown(m_fd.get());
  return false;
}

void FrameConn::Shutdown() {
  m_down = true;
  netio::Shutdown(m_fd.get());
}

void FrameConn::Abort() {
  netio::SetAbortiveClose(m_fd.get());
  Shutdown();
}

}  // namespace octc::net
