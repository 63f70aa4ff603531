#include "netio/udp.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "posix.h"

namespace netio {

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
