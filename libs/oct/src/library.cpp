#include "library.h"

namespace octc {

Library& Library::Instance() {
  static Library lib;
  return lib;
}

bool Library::Init() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_initialized = true;
  return true;
}

bool Library::initialized() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_initialized;
}

void Library::ReapRetired(std::vector<std::shared_ptr<Link>>& out) {
  // Caller holds m_lock. Links whose own thread is the caller stay retired.
  for (auto it = m_retired.begin(); it != m_retired.end();) {
    if ((*it)->OnOwnThread()) {
      ++it;
    } else {
      out.push_back(std::move(*it));
      it = m_retired.erase(it);
    }
  }
}

bool Library::Release() {
  std::vector<std::shared_ptr<Link>> links;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& [id, l] : m_links)
      if (l->OnOwnThread()) return false;
    for (auto& l : m_retired)
      if (l->OnOwnThread()) return false;
    {
      std::lock_guard<std::mutex> slock(m_searchLock);
      if (m_search && m_search->OnOwnThread()) return false;
    }
    for (auto& [id, l] : m_links) links.push_back(l);
    m_links.clear();
    ReapRetired(links);
    m_initialized = false;
  }
  for (auto& l : links) l->Close();
  for (auto& l : links) l->Join();
  links.clear();
  StopSearch();
  EditCallbacks([](CallbackSet& cb) {
    OctCryptProc enc = cb.encrypt, dec = cb.decrypt;
    cb = CallbackSet{};
    cb.encrypt = enc;
    cb.decrypt = dec;
  });
  return true;
}

int32_t Library::Connect(LinkParams params) {
  std::shared_ptr<Link> link;
  std::vector<std::shared_ptr<Link>> reaped;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_initialized) return OCTC_ERR_FAILED;
    int32_t id = m_nextConn;
    while (m_links.count(id) || id <= 0) id = id <= 0 ? 1 : id + 1;
    m_nextConn = id == INT32_MAX ? 1 : id + 1;
    link = std::make_shared<Link>(id, std::move(params), CurrentSettings());
    m_links[id] = link;
    link->Start();
    ReapRetired(reaped);
  }
  for (auto& l : reaped) l->Join();
  return link->id();
}

std::shared_ptr<Link> Library::Find(int32_t conn) {
  std::lock_guard<std::mutex> lock(m_lock);
  auto it = m_links.find(conn);
  return it == m_links.end() ? nullptr : it->second;
}

void Library::Ended(int32_t conn, const Link* link) {
  std::lock_guard<std::mutex> lock(m_lock);
  auto it = m_links.find(conn);
  if (it == m_links.end() || it->second.get() != link) return;
  m_retired.push_back(std::move(it->second));
  m_links.erase(it);
}

int32_t Library::Close(int32_t conn) {
  std::shared_ptr<Link> link;
  std::vector<std::shared_ptr<Link>> reaped;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_links.find(conn);
    if (it == m_links.end()) return OCTC_ERR_FAILED;
    link = it->second;
    m_links.erase(it);
    if (link->OnOwnThread()) m_retired.push_back(link);
    ReapRetired(reaped);
  }
  link->Close();
  if (!link->OnOwnThread()) link->Join();
  for (auto& l : reaped) l->Join();
  return 0;
}

int32_t Library::StartSearch(uint16_t local_port, uint16_t remote_port, OctSearchCallback cb) {
  std::lock_guard<std::mutex> lock(m_searchLock);
  if (m_search) return OCTC_ERR_BUSY;
  auto service = std::make_unique<SearchService>();
  int32_t rc = service->Start(local_port, remote_port, cb);
  if (rc == 0) m_search = std::move(service);
  return rc;
}

int32_t Library::Search(int32_t timeout_ms) {
  std::lock_guard<std::mutex> lock(m_searchLock);
  return m_search ? m_search->Search(timeout_ms) : OCTC_ERR_FAILED;
}

int32_t Library::StopSearch() {
  std::unique_ptr<SearchService> service;
  {
    std::lock_guard<std::mutex> lock(m_searchLock);
    if (!m_search || m_search->OnOwnThread()) return OCTC_ERR_FAILED;
    service = std::move(m_search);
  }
  service->Stop();
  return 0;
}

}  // namespace octc
