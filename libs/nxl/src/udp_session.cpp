// UDP session helpers.
#include "udp_session.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <vector>

#include "library.h"

namespace qvc {

bool UdpSession::Open(uint32_t local_address, int32_t local_port, int32_t remote) {
  if (local_port < 0 || local_port > 65535 || remote <= 0 || remote > 65535) return false;
  if (!wake.valid()) return false;
  std::string error;
  fd = net::BindUdp(local_address, static_cast<uint16_t>(local_port), false, &error);
  remote_port = static_cast<uint16_t>(remote);
  return fd.valid();
}

bool UdpSession::SendToTarget(const std::vector<uint8_t>& datagram) const {
  Settings settings = Library::Get().settings();
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = settings.broadcast_address;
  to.sin_port = htons(settings.broadcast_port ? settings.broadcast_port : remote_port);
  ssize_t n = ::sendto(fd.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return n == static_cast<ssize_t>(datagram.size());
}

bool UdpSession::Wait(net::Clock::time_point deadline) {
  if (stop.load()) return false;
  if (net::WaitFor(fd.get(), POLLIN, wake.fd(), deadline) == net::WaitResult::kWoken) {
    wake.Clear();
  }
  return !stop.load();
}

bool UdpSession::Receive(std::vector<uint8_t>* buffer, size_t* size, uint32_t* source) const {
  sockaddr_in from{};
  socklen_t len = sizeof from;
  // A datagram longer than the buffer is cut and then refused by its size.
  ssize_t n = ::recvfrom(fd.get(), buffer->data(), buffer->size(), MSG_DONTWAIT,
                         reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) return false;
  *size = static_cast<size_t>(n);
  *source = from.sin_addr.s_addr;
  return true;
}

}  // namespace qvc
