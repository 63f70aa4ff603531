// The shared part of the search and broadcast services: a bound UDP socket,
// a wake event and a stop flag, owned jointly by the service and its thread
// so a service stopped from inside its own callback ends cleanly, and the
// start and stop of such a service.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "library.h"
#include "netio/fd.h"
#include "netio/wait.h"

namespace qvc {

struct UdpSession {
  netio::Fd fd;
  netio::WakeEvent wake;
  std::atomic<bool> stop{false};
  uint16_t remote_port = 0;
  uint64_t thread_id = 0;

  // Binds the local port (no sharing: a port in use fails).
  bool Open(uint32_t local_address, int32_t local_port, int32_t remote);
  // Sends one datagram to the broadcast target of the library's settings.
  bool SendToTarget(const std::vector<uint8_t>& datagram) const;
  // Waits for a datagram, the wake event or the deadline. False when the
  // session is to stop.
  bool Wait(netio::Clock::time_point deadline);
  // Receives one datagram without waiting; false when none is queued.
  bool Receive(std::vector<uint8_t>* buffer, size_t* size, uint32_t* source) const;
};

// A service whose `State` holds its UdpSession `session` and the host's
// `callback`, shared with the service's thread on the library's thread set.
template <typename State>
class UdpService {
 public:
  explicit UdpService(Library& library) : library_(library) {}
  UdpService(const UdpService&) = delete;
  UdpService& operator=(const UdpService&) = delete;

  // Ends the service's thread; false when the service does not run.
  bool Stop() {
    std::shared_ptr<State> state;
    {
      std::lock_guard lock(mu_);
      state = std::move(state_);
    }
    if (!state) return false;
    state->session.stop.store(true);
    state->session.wake.Signal();
    library_.threads().Join(state->session.thread_id);
    return true;
  }

 protected:
  // Binds the local port and runs `run` with a fresh state on a thread of
  // the library; false when the service runs already, the library is not
  // active, or the port or the thread cannot be had.
  bool Launch(int32_t local_port, int32_t remote_port, decltype(State::callback) callback,
              std::function<void(const std::shared_ptr<State>&)> run) {
    std::lock_guard lock(mu_);
    if (state_ || !library_.active()) return false;
    auto state = std::make_shared<State>();
    if (!state->session.Open(library_.settings().local_address, local_port, remote_port)) {
      return false;
    }
    state->callback = callback;
    uint64_t id = library_.threads().Spawn([run, state] { run(state); });
    if (id == 0) return false;
    state->session.thread_id = id;
    state_ = state;
    return true;
  }

  Library& library_;
  std::mutex mu_;
  std::shared_ptr<State> state_;  // guarded by mu_; null while stopped
};

}  // namespace qvc
