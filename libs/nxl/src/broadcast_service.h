// The OKIP broadcast service: a UDP socket on the host's local port; each
// broadcast sends one 744-byte message to the broadcast target and hands
// every answer carrying its message id to the host's callback until its
// time-out, then one end call.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "udp_session.h"

namespace qvc {

struct BroadcastState {
  UdpSession session;
  QVC_BroadcastCallback callback = nullptr;
  std::mutex mu;
  std::map<uint32_t, netio::Clock::time_point> pending;  // message id -> end of its answers
};

class BroadcastService : public UdpService<BroadcastState> {
 public:
  using UdpService::UdpService;

  bool Start(int32_t local_port, int32_t remote_port, QVC_BroadcastCallback callback) {
    return Launch(local_port, remote_port, callback, [this](const auto& state) { Run(state); });
  }
  bool Broadcast(int32_t message_id, const void* message, int32_t length, int32_t timeout_ms);

 private:
  void Run(const std::shared_ptr<BroadcastState>& state);
};

}  // namespace qvc
