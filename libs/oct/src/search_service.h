// The UDP device search: a bound socket, a probe sent to the configured
// broadcast target, answers delivered as they arrive and an end report when
// the time-out has passed. Callbacks run on the service's own thread.
#pragma once

#include <octc/octc.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "netio/fd.h"

namespace octc {

class SearchService {
 public:
  SearchService() = default;
  ~SearchService();
  SearchService(const SearchService&) = delete;
  SearchService& operator=(const SearchService&) = delete;

  // 0, or OCTC_ERR_BUSY when the port cannot be bound.
  int32_t Start(uint16_t local_port, uint16_t remote_port, OctSearchCallback cb);
  // 0, OCTC_ERR_BUSY while a search runs, OCTC_ERR_FAILED when the probe cannot be sent.
  int32_t Search(int32_t timeout_ms);
  void Stop();
  bool OnOwnThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

 private:
  void Main();

  netio::Fd m_fd;
  uint16_t m_remotePort = 0;
  OctSearchCallback m_cb = nullptr;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::mutex m_lock;
  bool m_searching = false;
  uint32_t m_probeId = 0;
  int64_t m_deadline = 0;
};

}  // namespace octc
