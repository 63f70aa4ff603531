#include "search_service.h"

#include <chrono>
#include <random>

#include "messages.h"
#include "netio/socket.h"
#include "settings.h"

namespace octc {
namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

SearchService::~SearchService() {
  Stop();
}

int32_t SearchService::Start(uint16_t local_port, uint16_t remote_port, OctSearchCallback cb) {
  Settings s = CurrentSettings();
  uint32_t local = 0;
  std::string error;
  if (netio::ResolveIpv4(s.search_local, &local))
    m_fd = netio::BindUdp(local, local_port, false, &error);
  if (!m_fd.valid()) return OCTC_ERR_BUSY;
  m_remotePort = s.search_port != 0 ? s.search_port : remote_port;
  m_cb = cb;
  m_stop = false;
  m_thread = std::thread([this] { Main(); });
  return 0;
}

int32_t SearchService::Search(int32_t timeout_ms) {
  if (timeout_ms < 0) return OCTC_ERR_FAILED;
  Settings s = CurrentSettings();
  uint32_t target = 0;
  if (!netio::ResolveIpv4(s.search_target, &target) || m_remotePort == 0) return OCTC_ERR_FAILED;
  uint32_t id;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_searching) return OCTC_ERR_BUSY;
    static std::atomic<uint32_t> counter{std::random_device{}()};
    id = counter.fetch_add(1) | 1u;
    m_probeId = id;
    m_searching = true;
    m_deadline = NowMs() + timeout_ms;
  }
  wire::Writer w;
  w.U16(wire::kVersion);
  std::vector<uint8_t> msg = wire::BuildMessage(wire::Type::kSearchProbe, 0, id, w.data());
  if (!netio::SendDatagram(m_fd.get(), {target, m_remotePort}, msg.data(), msg.size())) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_searching = false;
    return OCTC_ERR_FAILED;
  }
  return 0;
}

void SearchService::Stop() {
  m_stop = true;
  if (m_thread.joinable() && !OnOwnThread()) m_thread.join();
  m_fd.Reset();
}

void SearchService::Main() {
  std::vector<uint8_t> buf(wire::kMaxDatagram + wire::kHeaderSize);
  while (!m_stop) {
    netio::PollItem item{m_fd.get(), netio::Events::kReadable, 0};
    const int rc = netio::PollOnce(&item, 1, 20);
    if (m_stop) break;
    bool end = false;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      if (m_searching && NowMs() >= m_deadline) {
        m_searching = false;
        end = true;
      }
    }
    if (end) {
      if (m_cb) m_cb(OCTC_SEARCH_END, nullptr);
      continue;
    }
    if (rc != 1) continue;
    const std::ptrdiff_t n = netio::ReceiveDatagram(m_fd.get(), buf.data(), buf.size(), nullptr);
    if (n < 0) continue;
    wire::DeliverSearchAnswer(buf.data(), static_cast<size_t>(n),
                              [this](uint32_t probe, const OctSearchInfo& info) {
                                {
                                  std::lock_guard<std::mutex> lock(m_lock);
                                  if (!m_searching || probe != m_probeId) return;
                                }
                                if (m_cb) m_cb(OCTC_SEARCH_FOUND, &info);
                              });
  }
}

}  // namespace octc
