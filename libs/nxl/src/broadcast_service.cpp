// OKIP broadcast service.
#include "broadcast_service.h"

#include <vector>

#include "discovery.h"

namespace qvc {

bool BroadcastService::Broadcast(int32_t message_id, const void* message, int32_t length,
                                 int32_t timeout_ms) {
  if (!message || length != static_cast<int32_t>(wire::kOkipMessageSize) || timeout_ms <= 0) {
    return false;
  }
  std::shared_ptr<BroadcastState> state;
  {
    std::lock_guard lock(mu_);
    state = state_;
  }
  if (!state) return false;
  uint32_t id = static_cast<uint32_t>(message_id);
  {
    std::lock_guard lock(state->mu);
    if (!state->pending.emplace(id, netio::Clock::now() + std::chrono::milliseconds(timeout_ms))
             .second) {
      return false;
    }
  }
  std::vector<uint8_t> datagram =
      wire::EncodeOkip(wire::DiscoveryKind::kRequest, id, static_cast<const uint8_t*>(message));
  if (!state->session.SendToTarget(datagram)) {
    std::lock_guard lock(state->mu);
    state->pending.erase(id);
    return false;
  }
  state->session.wake.Signal();
  return true;
}

void BroadcastService::Run(const std::shared_ptr<BroadcastState>& state) {
  std::vector<uint8_t> buffer(2048);
  auto deliver = [&](uint32_t id, const uint8_t* data, int32_t size, uint32_t source, int end) {
    if (state->callback && library_.active() && !state->session.stop.load()) {
      state->callback(static_cast<int32_t>(id), data, size, source, end);
    }
  };
  for (;;) {
    netio::Clock::time_point deadline = netio::Clock::now() + std::chrono::seconds(3600);
    {
      std::lock_guard lock(state->mu);
      for (const auto& [id, end] : state->pending) deadline = std::min(deadline, end);
    }
    if (!state->session.Wait(deadline)) return;
    size_t size = 0;
    uint32_t source = 0;
    while (state->session.Receive(&buffer, &size, &source)) {
      uint32_t id = 0;
      const uint8_t* message = nullptr;
      if (!wire::DecodeOkip(buffer.data(), size, wire::DiscoveryKind::kAnswer, &id, &message)) {
        continue;
      }
      {
        std::lock_guard lock(state->mu);
        if (state->pending.count(id) == 0) continue;
      }
      deliver(id, message, static_cast<int32_t>(wire::kOkipMessageSize), source, 0);
      if (state->session.stop.load()) return;
    }
    std::vector<uint32_t> ended;
    {
      std::lock_guard lock(state->mu);
      auto now = netio::Clock::now();
      for (auto it = state->pending.begin(); it != state->pending.end();) {
        if (now >= it->second) {
          ended.push_back(it->first);
          it = state->pending.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (uint32_t id : ended) deliver(id, nullptr, 0, 0, 1);
  }
}

}  // namespace qvc
