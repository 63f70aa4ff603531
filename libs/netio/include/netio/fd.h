// Sockets the code owns: a socket closed when its owner goes, and a wake
// event that ends a poller's wait from another thread.
#pragma once

#include <cstdint>

namespace netio {

// A socket as the system names it: a descriptor on POSIX, a SOCKET handle on
// Windows; both fit, and both call an invalid one -1.
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

class Fd {
 public:
  Fd() = default;
  explicit Fd(Socket fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  Socket get() const { return fd_; }
  bool valid() const { return fd_ != kNoSocket; }
  Socket Release() {
    Socket fd = fd_;
    fd_ = kNoSocket;
    return fd;
  }
  // Closes the socket held, then holds `fd`.
  void Reset(Socket fd = kNoSocket);

 private:
  Socket fd_ = kNoSocket;
};

// Readable from Signal until Clear: an eventfd on Linux, a loopback datagram
// socket sending to itself on Windows.
class WakeEvent {
 public:
  WakeEvent();
  bool valid() const { return fd_.valid(); }
  Socket fd() const { return fd_.get(); }
  void Signal();
  void Clear();

 private:
  Fd fd_;
};

}  // namespace netio
