// LAN search: a UDP socket on the host's local port; a search sends one
// probe to the broadcast target and hands every answer of that search to the
// host's callback until its time-out, then one end record.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "library.h"
#include "udp_session.h"

namespace qvc {

class SearchService {
 public:
  explicit SearchService(Library& library) : library_(library) {}
  ~SearchService() = default;
  SearchService(const SearchService&) = delete;
  SearchService& operator=(const SearchService&) = delete;

  bool Start(int32_t local_port, int32_t remote_port, QVC_SearchCallback callback);
  void Stop();
  bool Search(int32_t timeout_ms, int32_t max_answers);
  void EnableCache(bool enable);

 private:
  struct State;
  void Run(const std::shared_ptr<State>& state);

  Library& library_;
  std::mutex mu_;
  std::shared_ptr<State> state_;
  bool cache_ = false;
};

}  // namespace qvc
