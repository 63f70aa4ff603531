// Sockets on Windows (Winsock 2): the calls behind socket.h, the address
// look-ups of address.h and the one-off wait of wait.h (WSAPoll). Sockets
// are not inherited by child processes; nothing here raises a signal.
#include <winsock2.h>
#include <ws2tcpip.h>
// after the socket headers
#include <iphlpapi.h>
#include <mswsock.h>

#include <string>
#include <vector>

#include "netio/socket.h"
#include "socket_platform.h"
#include "winsock_start.h"

namespace netio {
namespace {

std::string ErrorText(const char* what, int err) {
  char text[256] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(err), 0, text, sizeof text, nullptr);
  std::string result = std::string(what) + ": ";
  if (n == 0) return result + "error " + std::to_string(err);
  std::string message(text, n);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return result + message;
}

SOCKET Native(Socket fd) {
  return static_cast<SOCKET>(fd);
}

sockaddr_in SocketAddress(uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(port);
  return sa;
}

Fd NewSocket(int type, int protocol) {
  if (!StartWinsock()) return {};
  const SOCKET s = ::socket(AF_INET, type, protocol);
  if (s == INVALID_SOCKET) return {};
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return Fd(static_cast<Socket>(s));
}

void SetBlocking(Socket fd, bool blocking) {
  u_long nonblocking = blocking ? 0 : 1;
  ::ioctlsocket(Native(fd), FIONBIO, &nonblocking);
}

// A socket of `type` bound to address:port; with `reuse` others may bind the
// same address and port (datagram sockets only: on Windows the option would
// let another program take over a listening port), with `broadcast` it may
// send broadcasts.
Fd BoundSocket(int type, uint32_t address, uint16_t port, bool reuse, bool broadcast,
               std::string* error) {
  Fd fd = NewSocket(type, type == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP);
  if (!fd.valid()) {
    *error = ErrorText("socket", ::WSAGetLastError());
    return {};
  }
  const BOOL one = TRUE;
  const char* on = reinterpret_cast<const char*>(&one);
  if (reuse && type == SOCK_DGRAM)
    ::setsockopt(Native(fd.get()), SOL_SOCKET, SO_REUSEADDR, on, sizeof one);
  if (type != SOCK_DGRAM) {
    ::setsockopt(Native(fd.get()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, on, sizeof one);
  }
  if (broadcast) ::setsockopt(Native(fd.get()), SOL_SOCKET, SO_BROADCAST, on, sizeof one);
  if (type == SOCK_DGRAM) {
    // An answer of "port unreachable" to an earlier datagram would otherwise
    // fail the next receive.
    BOOL report = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(Native(fd.get()), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned,
               nullptr, nullptr);
  }
  sockaddr_in sa = SocketAddress(address, port);
  if (::bind(Native(fd.get()), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    *error = ErrorText("bind", ::WSAGetLastError());
    return {};
  }
  return fd;
}

// Whether a receive would find something now (data, an end or an error).
bool ReadableNow(Socket fd) {
  PollItem item{fd, Events::kReadable, 0};
  return PollOnce(&item, 1, 0) > 0;
}

}  // namespace

ConnectResult StartConnect(uint32_t address, uint16_t port, uint32_t local, Fd* out,
                           std::string* error) {
  Fd fd = NewSocket(SOCK_STREAM, IPPROTO_TCP);
  if (!fd.valid()) {
    *error = ErrorText("socket", ::WSAGetLastError());
    return ConnectResult::kError;
  }
  SetBlocking(fd.get(), false);
  if (local != htonl(INADDR_ANY)) {
    sockaddr_in sa = SocketAddress(local, 0);
    if (::bind(Native(fd.get()), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      *error = ErrorText("bind to the selected network card", ::WSAGetLastError());
      return ConnectResult::kError;
    }
  }
  sockaddr_in sa = SocketAddress(address, port);
  ConnectResult result = ConnectResult::kOk;
  if (::connect(Native(fd.get()), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    const int err = ::WSAGetLastError();
    if (err != WSAEWOULDBLOCK && err != WSAEINPROGRESS) {
      *error = ErrorText("connect", err);
      return err == WSAECONNREFUSED ? ConnectResult::kRefused : ConnectResult::kError;
    }
    result = ConnectResult::kPending;
  }
  *out = std::move(fd);
  if (result == ConnectResult::kOk) return FinishConnect(out->get(), error);
  return result;
}

ConnectResult FinishConnect(Socket fd, std::string* error) {
  int err = 0;
  int len = sizeof err;
  if (::getsockopt(Native(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) {
    err = ::WSAGetLastError();
  }
  if (err != 0) {
    *error = ErrorText("connect", err);
    return err == WSAECONNREFUSED ? ConnectResult::kRefused : ConnectResult::kError;
  }
  SetNoDelay(fd);
  return ConnectResult::kOk;
}

Fd ListenTcp(uint32_t address, uint16_t port, std::string* error) {
  Fd fd = BoundSocket(SOCK_STREAM, address, port, true, false, error);
  if (fd.valid() && ::listen(Native(fd.get()), SOMAXCONN) != 0) {
    *error = ErrorText("listen", ::WSAGetLastError());
    return {};
  }
  return fd;
}

Fd Accept(Socket listen_fd) {
  const SOCKET s = ::accept(Native(listen_fd), nullptr, nullptr);
  if (s == INVALID_SOCKET) return {};
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  // An accepted socket inherits the listener's non-blocking mode; callers
  // expect a blocking one, as on POSIX.
  Fd fd(static_cast<Socket>(s));
  SetBlocking(fd.get(), true);
  return fd;
}

void SetNonBlocking(Socket fd) {
  SetBlocking(fd, false);
}

void SetNoDelay(Socket fd) {
  const BOOL one = TRUE;
  ::setsockopt(Native(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
               sizeof one);
}

void SetSendTimeout(Socket fd, int ms) {
  const DWORD timeout = static_cast<DWORD>(ms);
  ::setsockopt(Native(fd), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
}

void SetIoTimeouts(Socket fd, int ms) {
  const DWORD timeout = static_cast<DWORD>(ms);
  ::setsockopt(Native(fd), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
  SetSendTimeout(fd, ms);
}

void Shutdown(Socket fd) {
  ::shutdown(Native(fd), SD_BOTH);
}

void SetAbortiveClose(Socket fd) {
  linger l{1, 0};
  ::setsockopt(Native(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
}

Sent SendNow(Socket fd, const void* data, size_t size, size_t* sent) {
  // Only sockets in non-blocking mode are given here (the loops' sockets).
  const int n = ::send(Native(fd), static_cast<const char*>(data), static_cast<int>(size), 0);
  if (n != SOCKET_ERROR) {
    *sent = static_cast<size_t>(n);
    return Sent::kSent;
  }
  return ::WSAGetLastError() == WSAEWOULDBLOCK ? Sent::kWouldBlock : Sent::kFailed;
}

bool SendAll(Socket fd, const void* data, size_t size) {
  return SendAll(fd, data, size, nullptr, 0);
}

bool SendAll(Socket fd, const void* head, size_t head_size, const void* body, size_t body_size) {
  WSABUF parts[2] = {{static_cast<ULONG>(head_size), static_cast<char*>(const_cast<void*>(head))},
                     {static_cast<ULONG>(body_size), static_cast<char*>(const_cast<void*>(body))}};
  // Empty parts are skipped before each send: Winsock's send of nothing
  // returns 0 bytes, which would read as a failure (POSIX sends nothing).
  DWORD first = 0, n = 0;
  for (;;) {
    while (first < 2 && n >= parts[first].len) {
      n -= parts[first].len;
      ++first;
    }
    if (first == 2) return true;
    parts[first].buf += n;
    parts[first].len -= n;
    n = 0;
    if (::WSASend(Native(fd), parts + first, 2 - first, &n, 0, nullptr, nullptr) != 0 || n == 0)
      return false;
  }
}

Received ReceiveNow(Socket fd, void* data, size_t size, size_t* got) {
  if (!ReadableNow(fd)) return Received::kNothing;
  const int n = ::recv(Native(fd), static_cast<char*>(data), static_cast<int>(size), 0);
  if (n > 0) {
    *got = static_cast<size_t>(n);
    return Received::kData;
  }
  if (n == 0) return Received::kEnded;
  return ::WSAGetLastError() == WSAEWOULDBLOCK ? Received::kNothing : Received::kFailed;
}

Received ReceiveSome(Socket fd, void* data, size_t size, size_t* got) {
  const int n = ::recv(Native(fd), static_cast<char*>(data), static_cast<int>(size), 0);
  if (n > 0) {
    *got = static_cast<size_t>(n);
    return Received::kData;
  }
  return n == 0 ? Received::kEnded : Received::kFailed;
}

Received ReceiveAll(Socket fd, void* data, size_t size) {
  auto* p = static_cast<char*>(data);
  size_t got = 0;
  while (got < size) {
    const int n = ::recv(Native(fd), p + got, static_cast<int>(size - got), 0);
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
  const int n = ::sendto(Native(fd), static_cast<const char*>(data), static_cast<int>(size), 0,
                         reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  return n == static_cast<int>(size);
}

std::ptrdiff_t ReceiveDatagram(Socket fd, void* data, size_t size, Endpoint* from) {
  if (!ReadableNow(fd)) return -1;
  sockaddr_in sa{};
  int len = sizeof sa;
  int n = ::recvfrom(Native(fd), static_cast<char*>(data), static_cast<int>(size), 0,
                     reinterpret_cast<sockaddr*>(&sa), &len);
  // A datagram longer than the buffer arrives cut, as on POSIX.
  if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEMSGSIZE) n = static_cast<int>(size);
  if (n < 0) return -1;
  if (from) *from = Endpoint{sa.sin_addr.s_addr, ntohs(sa.sin_port)};
  return n;
}

bool ResolveIpv4(const std::string& host, uint32_t* out) {
  if (ParseAddress(host.c_str(), out)) return true;
  if (host.empty() || !StartWinsock()) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
  *out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(res);
  return true;
}

uint32_t InetAddr(const char* text) {
  if (!text || !StartWinsock()) return INADDR_NONE;
  return ::inet_addr(text);
}

bool CardAddress(int32_t card, uint32_t* address) {
  if (card < 1 || !StartWinsock()) return false;
  constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                           GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
  // The list's size is known only after asking; it may grow between calls.
  std::vector<unsigned char> storage(16 * 1024);
  ULONG size = static_cast<ULONG>(storage.size());
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    storage.resize(size);
    result = ::GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()), &size);
  }
  if (result != NO_ERROR) return false;
  int32_t index = 0;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()); adapter;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp) continue;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
      const SOCKADDR* sa = unicast->Address.lpSockaddr;
      if (!sa || sa->sa_family != AF_INET || ++index != card) continue;
      *address = reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr;
      return true;
    }
  }
  return false;
}

uint16_t LocalPort(Socket fd) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getsockname(Native(fd), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

uint32_t PeerAddress(Socket fd) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getpeername(Native(fd), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return sa.sin_addr.s_addr;
}

int PollOnce(PollItem* items, size_t count, int timeout_ms) {
  // Items without a socket are left out: WSAPoll would fail on them.
  std::vector<WSAPOLLFD> fds(count);
  std::vector<size_t> index(count);
  ULONG used = 0;
  for (size_t i = 0; i < count; ++i) {
    items[i].ready = 0;
    if (items[i].socket == kNoSocket) continue;
    const uint32_t wanted = items[i].wanted;
    fds[used] = WSAPOLLFD{Native(items[i].socket),
                          static_cast<SHORT>(((wanted & Events::kReadable) ? POLLRDNORM : 0) |
                                             ((wanted & Events::kWritable) ? POLLWRNORM : 0)),
                          0};
    index[used++] = i;
  }
  if (used == 0) {
    ::Sleep(timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
    return 0;
  }
  const int n = ::WSAPoll(fds.data(), used, timeout_ms < 0 ? -1 : timeout_ms);
  if (n == SOCKET_ERROR) return -1;
  for (ULONG i = 0; i < used; ++i) {
    const SHORT r = fds[i].revents;
    // A socket that is not open makes the wait a failure.
    if (r & POLLNVAL) return -1;
    items[index[i]].ready = ((r & (POLLRDNORM | POLLRDBAND)) ? Events::kReadable : 0u) |
                            ((r & POLLWRNORM) ? Events::kWritable : 0u) |
                            ((r & POLLERR) ? Events::kError : 0u) |
                            ((r & POLLHUP) ? Events::kHangUp : 0u);
  }
  return n;
}

namespace detail {

std::string LastErrorText(const char* what) {
  return ErrorText(what, ::WSAGetLastError());
}

void SetBlocking(Socket fd) {
  netio::SetBlocking(fd, true);
}

}  // namespace detail

}  // namespace netio
