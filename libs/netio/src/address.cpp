#include "netio/address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

namespace netio {

bool ParseAddress(const char* text, uint32_t* out) {
  if (!text) return false;
  in_addr a{};
  if (::inet_pton(AF_INET, text, &a) != 1) return false;
  *out = a.s_addr;
  return true;
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

std::string FormatAddress(uint32_t address) {
  in_addr a{};
  a.s_addr = address;
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

bool IsLoopback(uint32_t address) {
  return (ntohl(address) >> 24) == 127;
}

uint16_t LocalPort(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

uint32_t PeerAddress(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return sa.sin_addr.s_addr;
}

}  // namespace netio
