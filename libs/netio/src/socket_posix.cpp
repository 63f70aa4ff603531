// Sockets on POSIX: the system calls behind socket.h, the address look-ups
// of address.h and the one-off wait of wait.h.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <vector>

#include "netio/socket.h"
#include "socket_platform.h"

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

ConnectResult FinishConnect(Socket fd, std::string* error) {
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

Fd ListenTcp(uint32_t address, uint16_t port, std::string* error) {
  Fd fd = BoundSocket(SOCK_STREAM, address, port, true, false, error);
  if (fd.valid() && ::listen(fd.get(), SOMAXCONN) != 0) {
    *error = ErrorText("listen", errno);
    return {};
  }
  return fd;
}

Fd Accept(Socket listen_fd) {
  return Fd(::accept4(static_cast<int>(listen_fd), nullptr, nullptr, SOCK_CLOEXEC));
}

void SetNonBlocking(Socket fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void SetNoDelay(Socket fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void SetSendTimeout(Socket fd, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void SetIoTimeouts(Socket fd, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void Shutdown(Socket fd) {
  ::shutdown(static_cast<int>(fd), SHUT_RDWR);
}

void SetAbortiveClose(Socket fd) {
  linger l{1, 0};
  ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

Sent SendNow(Socket fd, const void* data, size_t size, size_t* sent) {
  for (;;) {
    const ssize_t n = ::send(static_cast<int>(fd), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      *sent = static_cast<size_t>(n);
      return Sent::kSent;
    }
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? Sent::kWouldBlock : Sent::kFailed;
  }
}

bool SendAll(Socket fd, const void* data, size_t size) {
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

bool SendAll(Socket fd, const void* head, size_t head_size, const void* body, size_t body_size) {
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

Received ReceiveNow(Socket fd, void* data, size_t size, size_t* got) {
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

Received ReceiveSome(Socket fd, void* data, size_t size, size_t* got) {
  for (;;) {
    const ssize_t n = ::recv(static_cast<int>(fd), data, size, 0);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return Received::kData;
    }
    if (n == 0) return Received::kEnded;
    if (errno != EINTR) return Received::kFailed;
  }
}

Received ReceiveAll(Socket fd, void* data, size_t size) {
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

bool SendDatagram(Socket fd, const Endpoint& to, const void* data, size_t size) {
  sockaddr_in sa = SocketAddress(to.address, to.port);
  ssize_t n =
      ::sendto(fd, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  return n == static_cast<ssize_t>(size);
}

std::ptrdiff_t ReceiveDatagram(Socket fd, void* data, size_t size, Endpoint* from) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ssize_t n = ::recvfrom(fd, data, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&sa), &len);
  if (n < 0) return -1;
  if (from) *from = Endpoint{sa.sin_addr.s_addr, ntohs(sa.sin_port)};
  return n;
}

bool ResolveIpv4(const std::string& host, uint32_t* out) {
  if (ParseAddress(host.c_str(), out)) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
  *out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(res);
  return true;
}

uint32_t InetAddr(const char* text) {
  return text ? ::inet_addr(text) : INADDR_NONE;
}

bool CardAddress(int32_t card, uint32_t* address) {
  if (card < 1) return false;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  int32_t index = 0;
  bool found = false;
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !(it->ifa_flags & IFF_UP)) {
      continue;
    }
    if (++index == card) {
      *address = reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr;
      found = true;
      break;
    }
  }
  ::freeifaddrs(list);
  return found;
}

uint16_t LocalPort(Socket fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

uint32_t PeerAddress(Socket fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return sa.sin_addr.s_addr;
}

int PollOnce(PollItem* items, size_t count, int timeout_ms) {
  // A few sockets on the stack, a server's many on the heap.
  constexpr size_t kOnStack = 8;
  pollfd local[kOnStack];
  std::vector<pollfd> many(count > kOnStack ? count : 0);
  pollfd* fds = count > kOnStack ? many.data() : local;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t wanted = items[i].wanted;
    fds[i] = pollfd{static_cast<int>(items[i].socket),
                    static_cast<short>(((wanted & Events::kReadable) ? POLLIN : 0) |
                                       ((wanted & Events::kWritable) ? POLLOUT : 0)),
                    0};
  }
  const int n = ::poll(fds, count, timeout_ms < 0 ? -1 : timeout_ms);
  if (n < 0) return errno == EINTR ? 0 : -1;
  // poll leaves out the items without a socket (a negative descriptor).
  for (size_t i = 0; i < count; ++i) {
    const short r = fds[i].revents;
    // A socket that is not open makes the wait a failure.
    if ((r & POLLNVAL) && fds[i].fd >= 0) return -1;
    items[i].ready = ((r & POLLIN) ? Events::kReadable : 0u) |
                     ((r & POLLOUT) ? Events::kWritable : 0u) |
                     ((r & POLLERR) ? Events::kError : 0u) | ((r & POLLHUP) ? Events::kHangUp : 0u);
  }
  return n;
}

namespace detail {

std::string LastErrorText(const char* what) {
  return ErrorText(what, errno);
}

void SetBlocking(Socket fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
}

}  // namespace detail

}  // namespace netio
