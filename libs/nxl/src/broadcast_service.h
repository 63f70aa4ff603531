// The OKIP broadcast service: a UDP socket on the host's local port; each
// broadcast sends one 744-byte message to the broadcast target and hands
// every answer carrying its message id to the host's callback until its
// time-out, then one end call.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "library.h"
#include "udp_session.h"

namespace qvc {

class BroadcastService {
 public:
  explicit BroadcastService(Library& library) : library_(library) {}
  BroadcastService(const BroadcastService&) = delete;
  BroadcastService& operator=(const BroadcastService&) = delete;

  bool Start(int32_t local_port, int32_t remote_port, QVC_BroadcastCallback callback);
  bool Stop();
  bool Broadcast(int32_t message_id, const void* message, int32_t length, int32_t timeout_ms);

 private:
  struct State;
  void Run(const std::shared_ptr<State>& state);

  Library& library_;
  std::mutex mu_;
  std::shared_ptr<State> state_;
};

}  // namespace qvc
