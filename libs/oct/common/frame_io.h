// Small POSIX socket helpers for the OCT client and device: an owning file
// descriptor, TCP connect/listen on IPv4, whole-frame reads and a framed
// connection whose sends are serialised. Sends never raise SIGPIPE.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "wire.h"

namespace octc::net {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& o) noexcept : m_fd(o.Release()) {}
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      Reset();
      m_fd = o.Release();
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  int Release() {
    int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  void Reset();

 private:
  int m_fd = -1;
};

// Parses a dotted IPv4 address or resolves a host name (IPv4 only).
bool ResolveIpv4(const std::string& host, uint32_t* addr_be);
// Connects within timeout_ms; the socket is blocking afterwards with receive
// and send time-outs of io_timeout_ms.
// A set cancel flag ends the wait early.
Fd ConnectTcp(const std::string& host, uint16_t port, int timeout_ms, int io_timeout_ms,
              const std::atomic<bool>* cancel = nullptr);
// Listens on address:port (port 0 = any); reports the port bound.
Fd ListenTcp(const std::string& address, uint16_t port, uint16_t* bound);
// Binds a UDP socket (broadcast allowed); reports the port bound. A shared
// socket lets other shared sockets bind the same address and port (devices
// answering the same broadcast probe).
Fd BindUdp(const std::string& address, uint16_t port, uint16_t* bound, bool shared = false);
void SetIoTimeouts(int fd, int ms);
// Sends small messages at once (no coalescing delay).
void SetNoDelay(int fd);
bool SendAll(int fd, const void* data, size_t size);

enum class ReadResult { kFrame, kIdle, kClosed, kError, kMalformed };
// Waits up to wait_ms for a frame to begin, then reads it whole (bounded by
// the socket's receive time-out).
ReadResult ReadFrame(int fd, int wait_ms, wire::Frame& out);

// Reads whole frames like ReadFrame, but through a buffer, so that a run of
// small messages costs one receive call rather than three system calls each.
// Use one reader per socket for every read after the first through it.
class FrameReader {
 public:
  ReadResult Read(int fd, int wait_ms, wire::Frame& out);

 private:
  static constexpr size_t kSize = 64 * 1024;
  std::vector<uint8_t> m_buf = std::vector<uint8_t>(kSize);
  size_t m_begin = 0;
  size_t m_end = 0;
};

// A connected socket with serialised, whole-message sends.
class FrameConn {
 public:
  explicit FrameConn(Fd fd) : m_fd(std::move(fd)) {}
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
  int fd() const { return m_fd.get(); }

 private:
  Fd m_fd;
  std::mutex m_sendLock;
  std::atomic<bool> m_down{false};
};

}  // namespace octc::net
