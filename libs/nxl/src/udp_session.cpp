// UDP session helpers.
#include "udp_session.h"

#include <vector>

#include "library.h"
#include "netio/socket.h"

namespace qvc {

bool UdpSession::Open(uint32_t local_address, int32_t local_port, int32_t remote) {
  if (local_port < 0 || local_port > 65535 || remote <= 0 || remote > 65535) return false;
  if (!wake.valid()) return false;
  std::string error;
  fd = netio::BindUdp(local_address, static_cast<uint16_t>(local_port), false, &error);
  remote_port = static_cast<uint16_t>(remote);
  return fd.valid();
}

bool UdpSession::SendToTarget(const std::vector<uint8_t>& datagram) const {
  Settings settings = Library::Get().settings();
  netio::Endpoint to{settings.broadcast_address,
                     settings.broadcast_port ? settings.broadcast_port : remote_port};
  return netio::SendDatagram(fd.get(), to, datagram.data(), datagram.size());
}

bool UdpSession::Wait(netio::Clock::time_point deadline) {
  if (stop.load()) return false;
  if (netio::WaitFor(fd.get(), netio::Events::kReadable, deadline, {wake.fd()}) ==
      netio::WaitResult::kWoken) {
    wake.Clear();
  }
  return !stop.load();
}

bool UdpSession::Receive(std::vector<uint8_t>* buffer, size_t* size, uint32_t* source) const {
  netio::Endpoint from;
  // A datagram longer than the buffer is cut and then refused by its size.
  const std::ptrdiff_t n = netio::ReceiveDatagram(fd.get(), buffer->data(), buffer->size(), &from);
  if (n < 0) return false;
  *size = static_cast<size_t>(n);
  *source = from.address;
  return true;
}

}  // namespace qvc
