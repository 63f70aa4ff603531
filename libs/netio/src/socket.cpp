#include "netio/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace netio {
namespace {

std::string ErrorText(const char* what, int err) {
  char buf[128];
  return std::string(what) + ": " + ::strerror_r(err, buf, sizeof buf);
}

sockaddr_in SocketAddress(uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(port);
  return sa;
}

// A socket of `type` bound to address:port; with `reuse` others may bind the
// same address and port, with `broadcast` it may send broadcasts.
Fd BoundSocket(int type, uint32_t address, uint16_t port, bool reuse, bool broadcast,
               std::string* error) {
  Fd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    *error = ErrorText("socket", errno);
    return {};
  }
  int one = 1;
  if (reuse) ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (broadcast) ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  sockaddr_in sa = SocketAddress(address, port);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    *error = ErrorText("bind", errno);
    return {};
  }
  return fd;
}

}  // namespace

ConnectResult StartConnect(uint32_t address, uint16_t port, uint32_t local, Fd* out,
                           std::string* error) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    *error = ErrorText("socket", errno);
    return ConnectResult::kError;
  }
  if (local != htonl(INADDR_ANY)) {
    sockaddr_in sa = SocketAddress(local, 0);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      *error = ErrorText("bind to the selected network card", errno);
      return ConnectResult::kError;
    }
  }
  sockaddr_in sa = SocketAddress(address, port);
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
  SetNoDelay(fd);
  return ConnectResult::kOk;
}

ConnectResult ConnectTcp(uint32_t address, uint16_t port, uint32_t local,
                         Clock::time_point deadline, Interrupt interrupt, int io_timeout_ms,
                         Fd* out, std::string* error) {
  Fd fd;
  ConnectResult result = StartConnect(address, port, local, &fd, error);
  if (result == ConnectResult::kPending) {
    switch (WaitFor(fd.get(), POLLOUT, deadline, interrupt)) {
      case WaitResult::kReady: result = FinishConnect(fd.get(), error); break;
      case WaitResult::kWoken: *error = "connect: cancelled"; return ConnectResult::kWoken;
      case WaitResult::kTimeout: *error = "connect: timed out"; return ConnectResult::kTimeout;
      case WaitResult::kError: *error = ErrorText("poll", errno); return ConnectResult::kError;
    }
  }
  if (result != ConnectResult::kOk) return result;
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  SetIoTimeouts(fd.get(), io_timeout_ms);
  *out = std::move(fd);
  return ConnectResult::kOk;
}

Fd ConnectTcp(const std::string& host, uint16_t port, int timeout_ms, int io_timeout_ms,
              const std::atomic<bool>* cancel) {
  uint32_t address = 0;
  if (port == 0 || !ResolveIpv4(host, &address)) return Fd();
  Fd fd;
  std::string error;
  ConnectTcp(address, port, 0, Clock::now() + std::chrono::milliseconds(timeout_ms),
             Interrupt{-1, cancel}, io_timeout_ms, &fd, &error);
  return fd;
}

Fd ListenTcp(uint32_t address, uint16_t port, std::string* error) {
  Fd fd = BoundSocket(SOCK_STREAM, address, port, true, false, error);
  if (fd.valid() && ::listen(fd.get(), SOMAXCONN) != 0) {
    *error = ErrorText("listen", errno);
    return {};
  }
  return fd;
}

Fd Accept(int listen_fd) {
  return Fd(::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC));
}

void SetNonBlocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void SetNoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void SetSendTimeout(int fd, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void SetIoTimeouts(int fd, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool SendAll(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool SendAll(int fd, const void* head, size_t head_size, const void* body, size_t body_size) {
  if (body_size == 0) return SendAll(fd, head, head_size);
  iovec iov[2] = {{const_cast<void*>(head), head_size}, {const_cast<void*>(body), body_size}};
  int first = 0;
  const int count = 2;
  while (first < count) {
    msghdr msg{};
    msg.msg_iov = iov + first;
    msg.msg_iovlen = static_cast<size_t>(count - first);
    ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    size_t done = static_cast<size_t>(n);
    while (first < count && done >= iov[first].iov_len) {
      done -= iov[first].iov_len;
      ++first;
    }
    if (first < count) {
      iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + done;
      iov[first].iov_len -= done;
    }
  }
  return true;
}

Received ReceiveNow(int fd, void* data, size_t size, size_t* got) {
  for (;;) {
    ssize_t n = ::recv(fd, data, size, MSG_DONTWAIT);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return Received::kData;
    }
    if (n == 0) return Received::kEnded;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? Received::kNothing : Received::kFailed;
  }
}

Received ReceiveAll(int fd, void* data, size_t size) {
  auto* p = static_cast<uint8_t*>(data);
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::recv(fd, p + got, size - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return got == 0 ? Received::kEnded : Received::kFailed;
    if (n < 0) return Received::kFailed;
    got += static_cast<size_t>(n);
  }
  return Received::kData;
}

Fd BindUdp(uint32_t address, uint16_t port, bool shared, std::string* error) {
  return BoundSocket(SOCK_DGRAM, address, port, shared, true, error);
}

bool SendDatagram(int fd, const Endpoint& to, const void* data, size_t size) {
  sockaddr_in sa = SocketAddress(to.address, to.port);
  ssize_t n =
      ::sendto(fd, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  return n == static_cast<ssize_t>(size);
}

ssize_t ReceiveDatagram(int fd, void* data, size_t size, Endpoint* from) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ssize_t n = ::recvfrom(fd, data, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&sa), &len);
  if (n < 0) return -1;
  if (from) *from = Endpoint{sa.sin_addr.s_addr, ntohs(sa.sin_port)};
  return n;
}

}  // namespace netio
