// The shared part of the search and broadcast services: a bound UDP socket,
// a wake event and a stop flag, owned jointly by the service and its thread
// so a service stopped from inside its own callback ends cleanly.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "net.h"

namespace qvc {

struct UdpSession {
  net::UniqueFd fd;
  net::WakeEvent wake;
  std::atomic<bool> stop{false};
  uint16_t remote_port = 0;
  uint64_t thread_id = 0;

  // Binds the local port (no sharing: a port in use fails).
  bool Open(uint32_t local_address, int32_t local_port, int32_t remote);
  // Sends one datagram to the broadcast target of the library's settings.
  bool SendToTarget(const std::vector<uint8_t>& datagram) const;
  // Waits for a datagram, the wake event or the deadline. False when the
  // session is to stop.
  bool Wait(net::Clock::time_point deadline);
  // Receives one datagram without waiting; false when none is queued.
  bool Receive(std::vector<uint8_t>* buffer, size_t* size, uint32_t* source) const;
};

}  // namespace qvc
