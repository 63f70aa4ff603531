// Owned sockets and the wake event on Windows: the event is a loopback
// datagram socket that sends to itself, so that a poller can wait on it
// beside the sockets it watches.
#include <winsock2.h>

#include "netio/fd.h"
#include "winsock_start.h"

namespace netio {
namespace {

// A non-blocking datagram socket on 127.0.0.1 connected to itself.
Socket SelfSocket() {
  if (!StartWinsock()) return kNoSocket;
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return kNoSocket;
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof sa;
  u_long nonblocking = 1;
  if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
      ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::ioctlsocket(s, FIONBIO, &nonblocking) != 0) {
    ::closesocket(s);
    return kNoSocket;
  }
  return static_cast<Socket>(s);
}

}  // namespace

bool StartWinsock() {
  static const bool started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

void Fd::Reset(Socket fd) {
  if (fd_ != kNoSocket) ::closesocket(static_cast<SOCKET>(fd_));
  fd_ = fd;
}

WakeEvent::WakeEvent() : fd_(SelfSocket()) {}

void WakeEvent::Signal() {
  const char one = 1;
  ::send(static_cast<SOCKET>(fd_.get()), &one, 1, 0);
}

void WakeEvent::Clear() {
  char buffer[64];
  while (::recv(static_cast<SOCKET>(fd_.get()), buffer, sizeof buffer, 0) > 0) {
  }
}

}  // namespace netio
