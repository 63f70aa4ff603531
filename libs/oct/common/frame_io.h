// Whole OCT messages over a socket: single reads, a buffered reader for a
// link's stream, and a connection whose sends are serialised. Sends never
// raise SIGPIPE.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "netio/message_reader.h"
#include "netio/socket.h"
#include "wire.h"

namespace octc::net {

enum class ReadResult { kFrame, kIdle, kClosed, kError, kMalformed };
// Waits up to wait_ms for a frame to begin, then reads it whole (bounded by
// the socket's receive time-out) without reading past it.
ReadResult ReadFrame(netio::Socket fd, int wait_ms, wire::Frame& out);

// Reads whole frames like ReadFrame, but through a buffer, so that a run of
// small messages costs one receive call rather than three system calls each.
// Use one reader per socket for every read after the first through it.
class FrameReader {
 public:
  FrameReader();
  ReadResult Read(netio::Socket fd, int wait_ms, wire::Frame& out);

 private:
  netio::MessageReader m_reader;
};

// A connected socket with serialised, whole-message sends.
class FrameConn {
 public:
  explicit FrameConn(netio::Fd fd) : m_fd(std::move(fd)) {}
  bool Send(wire::Type type, int32_t handle, uint32_t seq, const std::vector<uint8_t>& payload);
  bool SendRaw(const std::vector<uint8_t>& bytes);
  // Sends a message whose payload is prefix followed by size bytes at data,
  // without copying the data.
  bool SendGather(wire::Type type, int32_t handle, uint32_t seq, const std::vector<uint8_t>& prefix,
                  const uint8_t* data, size_t size);
  // Wakes a blocked reader and makes further I/O fail.
  void Shutdown();
  // Closes abruptly (reset instead of an orderly end).
  void Abort();
  netio::Socket fd() const { return m_fd.get(); }

 private:
  bool SendParts(const uint8_t* head, size_t head_size, const uint8_t* body, size_t body_size);

  netio::Fd m_fd;
  std::mutex m_sendLock;
  std::atomic<bool> m_down{false};
};

}  // namespace octc::net
