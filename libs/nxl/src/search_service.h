// LAN search: a UDP socket on the host's local port; a search sends one
// probe to the broadcast target and hands every answer of that search to the
// host's callback until its time-out, then one end record.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "udp_session.h"

namespace qvc {

struct SearchState {
  UdpSession session;
  QVC_SearchCallback callback = nullptr;
  std::mutex mu;
  bool searching = false;  // guarded by mu, as are the fields below
  uint32_t search_id = 0;
  netio::Clock::time_point deadline;
  int32_t max_answers = 0;
  int32_t delivered = 0;
  bool cache = false;
  std::set<std::pair<std::string, int32_t>> seen;
};

class SearchService : public UdpService<SearchState> {
 public:
  using UdpService::UdpService;

  bool Start(int32_t local_port, int32_t remote_port, QVC_SearchCallback callback) {
    return Launch(local_port, remote_port, callback, [this](const auto& state) { Run(state); });
  }
  bool Search(int32_t timeout_ms, int32_t max_answers);
  void EnableCache(bool enable);

 private:
  void Run(const std::shared_ptr<SearchState>& state);

  bool cache_ = false;  // guarded by mu_
};

}  // namespace qvc
