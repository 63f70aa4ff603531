// Socket helpers shared by the client library and the device engine: owned
// descriptors, a wake-up event for poll loops, deadline-bounded connects and
// sends. Every send uses MSG_NOSIGNAL; nothing here changes process state.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qvc::net {

using Clock = std::chrono::steady_clock;

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// An eventfd that wakes a poll loop from another thread.
class WakeEvent {
 public:
  WakeEvent();
  bool valid() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  void Signal();
  void Clear();

 private:
  UniqueFd fd_;
};

enum class WaitResult { kReady, kWoken, kTimeout, kError };

// Waits until `fd` has `events` (POLLIN/POLLOUT), the wake event fires
// (wake_fd < 0: none) or the deadline passes.
WaitResult WaitFor(int fd, short events, int wake_fd, Clock::time_point deadline);

// Milliseconds from now to `deadline`, at least 0, at most INT32_MAX.
int MillisUntil(Clock::time_point deadline);

enum class ConnectResult { kOk, kRefused, kTimeout, kWoken, kError, kPending };

// Starts a TCP connect to address:port (both network order) on a
// non-blocking socket, bound first to `local` (network order; INADDR_ANY for
// none): kOk when connected at once, kPending while under way (wait until
// the socket is writable, then call FinishConnect), else the failure.
ConnectResult StartConnect(uint32_t address, uint16_t port, uint32_t local, UniqueFd* out,
                           std::string* error);
// The outcome of a pending connect whose socket became writable; on kOk the
// socket sends without delay (TCP_NODELAY).
ConnectResult FinishConnect(int fd, std::string* error);

// A TCP connect as StartConnect that waits for its end. The socket is left
// blocking with a send time-out of `send_timeout_ms`.
ConnectResult ConnectTcp(uint32_t address, uint16_t port, uint32_t local, int wake_fd,
                         Clock::time_point deadline, int send_timeout_ms, UniqueFd* out,
                         std::string* error);

// Sends all bytes; false on error or send time-out. Partial sends are
// retried on interruption.
bool SendAll(int fd, const void* data, size_t size);

// A listening TCP socket on address:port (port 0: the system picks).
UniqueFd ListenTcp(uint32_t address, uint16_t port, std::string* error);

// A UDP socket bound to address:port; broadcast sending enabled; with
// `reuse` several sockets may share the port (devices on one machine).
UniqueFd BindUdp(uint32_t address, uint16_t port, bool reuse, std::string* error);

// The local port of a bound socket, 0 on error.
uint16_t LocalPort(int fd);

// Parses a dotted IPv4 address into network order; false when invalid.
bool ParseAddress(const char* text, uint32_t* out);
std::string FormatAddress(uint32_t network_order);
bool IsLoopback(uint32_t network_order);

}  // namespace qvc::net
