// The client library's process-wide state: whether it is initialised, the
// open links by connection handle, links closed from their own threads and
// waiting to be joined, and the search service.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "link.h"
#include "search_service.h"

namespace octc {

class Library {
 public:
  static Library& Instance();

  bool Init();
  bool initialized();
  // Refused (false) on a thread of the library: it could not join itself.
  bool Release();

  int32_t Connect(LinkParams params);
  std::shared_ptr<Link> Find(int32_t conn);
  int32_t Close(int32_t conn);
  // A link that ended by itself (refused, lost or closed by the device) and
  // has delivered its last report: nobody closes such a handle, so it is
  // given up here and joined by the next connect, close or release.
  void Ended(int32_t conn, const Link* link);

  int32_t StartSearch(uint16_t local_port, uint16_t remote_port, OctSearchCallback cb);
  int32_t Search(int32_t timeout_ms);
  int32_t StopSearch();

 private:
  void ReapRetired(std::vector<std::shared_ptr<Link>>& out);

  std::mutex m_lock;
  bool m_initialized = false;
  int32_t m_nextConn = 1;
  std::map<int32_t, std::shared_ptr<Link>> m_links;
  std::vector<std::shared_ptr<Link>> m_retired;
  std::mutex m_searchLock;
  std::unique_ptr<SearchService> m_search;
};

}  // namespace octc
