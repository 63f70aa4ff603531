#include "socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace octc::net {

void Fd::Reset() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

bool ResolveIpv4(const std::string& host, uint32_t* addr_be) {
  in_addr a{};
  if (::inet_pton(AF_INET, host.c_str(), &a) == 1) {
    *addr_be = a.s_addr;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
  *addr_be = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(res);
  return true;
}

void SetIoTimeouts(int fd, int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void SetNoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

Fd ConnectTcp(const std::string& host, uint16_t port, int timeout_ms, int io_timeout_ms,
              const std::atomic<bool>* cancel) {
  uint32_t addr = 0;
  if (port == 0 || !ResolveIpv4(host, &addr)) return Fd();
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) return Fd();
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = addr;
  int rc = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  if (rc != 0) {
    if (errno != EINPROGRESS) return Fd();
    pollfd p{fd.get(), POLLOUT, 0};
    int ready = 0;
    for (int waited = 0; ready == 0 && waited < timeout_ms; waited += 100) {
      if (cancel && cancel->load()) return Fd();
      ready = ::poll(&p, 1, std::min(100, timeout_ms - waited));
      if (ready < 0 && errno == EINTR) ready = 0;
    }
    if (ready != 1) return Fd();
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return Fd();
  }
  int flags = ::fcntl(fd.get(), F_GETFL);
  ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  SetNoDelay(fd.get());
  SetIoTimeouts(fd.get(), io_timeout_ms);
  return fd;
}

Fd ListenTcp(const std::string& address, uint16_t port, uint16_t* bound) {
  uint32_t addr = 0;
  if (!ResolveIpv4(address, &addr)) return Fd();
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return Fd();
  int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = addr;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return Fd();
  if (::listen(fd.get(), 64) != 0) return Fd();
  socklen_t len = sizeof sa;
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&sa), &len);
  if (bound) *bound = ntohs(sa.sin_port);
  return fd;
}

Fd BindUdp(const std::string& address, uint16_t port, uint16_t* bound, bool shared) {
  uint32_t addr = 0;
  if (!ResolveIpv4(address, &addr)) return Fd();
  Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return Fd();
  int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  if (shared) ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = addr;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return Fd();
  socklen_t len = sizeof sa;
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&sa), &len);
  if (bound) *bound = ntohs(sa.sin_port);
  return fd;
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

namespace {

// 1 = all read, 0 = orderly end before anything, -1 = error or time-out.
int RecvExact(int fd, uint8_t* p, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::recv(fd, p + got, size - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return got == 0 ? 0 : -1;
    if (n < 0) return -1;
    got += static_cast<size_t>(n);
  }
  return 1;
}

}  // namespace

ReadResult ReadFrame(int fd, int wait_ms, wire::Frame& out) {
  pollfd p{fd, POLLIN, 0};
  int rc = ::poll(&p, 1, wait_ms);
  if (rc == 0) return ReadResult::kIdle;
  if (rc < 0) return errno == EINTR ? ReadResult::kIdle : ReadResult::kError;
  uint8_t head[wire::kHeaderSize];
  int r = RecvExact(fd, head, sizeof head);
  if (r == 0) return ReadResult::kClosed;
  if (r < 0) return ReadResult::kError;
  if (!wire::DecodeHeader(head, out.header)) return ReadResult::kMalformed;
  out.payload.resize(out.header.length);
  if (out.header.length > 0 && RecvExact(fd, out.payload.data(), out.header.length) != 1)
    return ReadResult::kError;
  return ReadResult::kFrame;
}

ReadResult FrameReader::Read(int fd, int wait_ms, wire::Frame& out) {
  if (m_begin == m_end) {
    m_begin = m_end = 0;
    pollfd p{fd, POLLIN, 0};
    int rc = ::poll(&p, 1, wait_ms);
    if (rc == 0) return ReadResult::kIdle;
    if (rc < 0) return errno == EINTR ? ReadResult::kIdle : ReadResult::kError;
  }
  if (m_end - m_begin < wire::kHeaderSize) {
    std::memmove(m_buf.data(), m_buf.data() + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
    while (m_end < wire::kHeaderSize) {
      ssize_t n = ::recv(fd, m_buf.data() + m_end, m_buf.size() - m_end, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) return m_end == 0 ? ReadResult::kClosed : ReadResult::kError;
      if (n < 0) return ReadResult::kError;
      m_end += static_cast<size_t>(n);
    }
  }
  if (!wire::DecodeHeader(m_buf.data() + m_begin, out.header)) return ReadResult::kMalformed;
  m_begin += wire::kHeaderSize;
  const size_t length = out.header.length;
  out.payload.resize(length);
  const size_t have = std::min(length, m_end - m_begin);
  if (have > 0) std::memcpy(out.payload.data(), m_buf.data() + m_begin, have);
  m_begin += have;
  if (have < length && RecvExact(fd, out.payload.data() + have, length - have) != 1)
    return ReadResult::kError;
  return ReadResult::kFrame;
}

bool FrameConn::Send(wire::Type type, int32_t handle, uint32_t seq,
                     const std::vector<uint8_t>& payload) {
  if (payload.size() > wire::kMaxPayload) return false;
  return SendRaw(wire::BuildMessage(type, handle, seq, payload));
}

bool FrameConn::SendRaw(const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(m_sendLock);
  if (m_down.load()) return false;
  if (!SendAll(m_fd.get(), bytes.data(), bytes.size())) {
    m_down = true;
    ::shutdown(m_fd.get(), SHUT_RDWR);
    return false;
  }
  return true;
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
  std::lock_guard<std::mutex> lock(m_sendLock);
  if (m_down.load()) return false;
  iovec iov[2] = {{head.data(), head.size()}, {const_cast<uint8_t*>(data), size}};
  int count = size > 0 ? 2 : 1;
  int first = 0;
  while (first < count) {
    msghdr msg{};
    msg.msg_iov = iov + first;
    msg.msg_iovlen = static_cast<size_t>(count - first);
    ssize_t n = ::sendmsg(m_fd.get(), &msg, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_down = true;
      ::shutdown(m_fd.get(), SHUT_RDWR);
      return false;
    }
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

void FrameConn::Shutdown() {
  m_down = true;
  ::shutdown(m_fd.get(), SHUT_RDWR);
}

void FrameConn::Abort() {
  linger l{1, 0};
  ::setsockopt(m_fd.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Shutdown();
}

}  // namespace octc::net
