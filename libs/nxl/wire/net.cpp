// POSIX socket helpers.
#include "net.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>

namespace qvc::net {

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void WakeEvent::Signal() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd_.get(), &one, sizeof one);
}

void WakeEvent::Clear() {
  uint64_t value = 0;
  [[maybe_unused]] ssize_t n = ::read(fd_.get(), &value, sizeof value);
}

int MillisUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  if (left.count() > INT_MAX) return INT_MAX;
  // Round up so a wait never ends just before its deadline.
  return static_cast<int>(left.count()) + 1;
}

WaitResult WaitFor(int fd, short events, int wake_fd, Clock::time_point deadline) {
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {wake_fd, POLLIN, 0}};
    int count = wake_fd >= 0 ? 2 : 1;
    int timeout = MillisUntil(deadline);
    int n = ::poll(fds, count, timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WaitResult::kError;
    }
    if (count == 2 && (fds[1].revents & POLLIN)) return WaitResult::kWoken;
    if (n == 0) {
      if (Clock::now() >= deadline) return WaitResult::kTimeout;
      continue;
    }
    if (fds[0].revents & (events | POLLERR | POLLHUP)) return WaitResult::kReady;
    if (fds[0].revents & POLLNVAL) return WaitResult::kError;
  }
}

namespace {

void SetSendTimeout(int fd, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

std::string ErrorText(const char* what, int err) {
  char buf[128];
  return std::string(what) + ": " + ::strerror_r(err, buf, sizeof buf);
}

}  // namespace

ConnectResult StartConnect(uint32_t address, uint16_t port, uint32_t local, UniqueFd* out,
                           std::string* error) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    *error = ErrorText("socket", errno);
    return ConnectResult::kError;
  }
  if (local != htonl(INADDR_ANY)) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = local;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      *error = ErrorText("bind to the selected network card", errno);
      return ConnectResult::kError;
    }
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = port;
  ConnectResult result = ConnectResult::kOk;
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    int err = errno;
    if (err != EINPROGRESS) {
      *error = ErrorText("connect", err);
      return err == ECONNREFUSED ? ConnectResult::kRefused : ConnectResult::kError;
    }
    result = ConnectResult::kPending;
  }
  *out = std::move(fd);
  if (result == ConnectResult::kOk) return FinishConnect(out->get(), error);
  return result;
}

ConnectResult FinishConnect(int fd, std::string* error) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  if (err != 0) {
    *error = ErrorText("connect", err);
    return err == ECONNREFUSED ? ConnectResult::kRefused : ConnectResult::kError;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return ConnectResult::kOk;
}

ConnectResult ConnectTcp(uint32_t address, uint16_t port, uint32_t local, int wake_fd,
                         Clock::time_point deadline, int send_timeout_ms, UniqueFd* out,
                         std::string* error) {
  UniqueFd fd;
  ConnectResult result = StartConnect(address, port, local, &fd, error);
  if (result == ConnectResult::kPending) {
    switch (WaitFor(fd.get(), POLLOUT, wake_fd, deadline)) {
      case WaitResult::kReady: result = FinishConnect(fd.get(), error); break;
      case WaitResult::kWoken: return ConnectResult::kWoken;
      case WaitResult::kTimeout: *error = "connect: timed out"; return ConnectResult::kTimeout;
      case WaitResult::kError: *error = ErrorText("poll", errno); return ConnectResult::kError;
    }
  }
  if (result != ConnectResult::kOk) return result;
  int flags = ::fcntl(fd.get(), F_GETFL);
  ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  SetSendTimeout(fd.get(), send_timeout_ms);
  *out = std::move(fd);
  return ConnectResult::kOk;
}

bool SendAll(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

UniqueFd ListenTcp(uint32_t address, uint16_t port, std::string* error) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    *error = ErrorText("socket", errno);
    return {};
  }
  int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(port);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    *error = ErrorText("bind", errno);
    return {};
  }
  if (::listen(fd.get(), SOMAXCONN) != 0) {
    *error = ErrorText("listen", errno);
    return {};
  }
  return fd;
}

UniqueFd BindUdp(uint32_t address, uint16_t port, bool reuse, std::string* error) {
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    *error = ErrorText("socket", errno);
    return {};
  }
  int one = 1;
  if (reuse) ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(port);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    *error = ErrorText("bind", errno);
    return {};
  }
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

bool ParseAddress(const char* text, uint32_t* out) {
  if (!text) return false;
  in_addr a{};
  if (::inet_pton(AF_INET, text, &a) != 1) return false;
  *out = a.s_addr;
  return true;
}

std::string FormatAddress(uint32_t network_order) {
  in_addr a{};
  a.s_addr = network_order;
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

bool IsLoopback(uint32_t network_order) {
  return (ntohl(network_order) >> 24) == 127;
}

}  // namespace qvc::net
