#include "qcsdk/oct/oct_conn.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>

#include "log/log.h"
#include "platform/oct_api.h"
#include "qcsdk/oct/oct_channel.h"
#include "qcsdk/oct/oct_init.h"

namespace qcsdk {
namespace {

constexpr uint32_t kStepMs = 10;
constexpr uint32_t kIdleMs = 100;
constexpr int64_t kConnStopMs = 2000;
constexpr int64_t kDisconnStopMs = 500;
constexpr std::size_t kWorkerStackSize = 524288;
// Open calls return at once; this only bounds the wait should one not.
constexpr int64_t kOpenWaitMs = 2000;

// Module state. The connection table lock is taken before any connection's
// own lock; the release-queue lock is never taken while the table lock is
// held.
os::RecursiveLock g_octConnLock;
std::map<int32_t, OctConnectionPtr> g_octConnections;
std::mutex g_octReleaseLock;
std::deque<OctConnectionPtr> g_octReleaseQueue;
std::atomic<bool> g_bOctWorkersRunning{false};
// Bumped at every start, so that a worker abandoned after a stop time-out
// ends when it comes back, even if the workers were started again meanwhile.
std::atomic<uint32_t> g_nWorkerGeneration{0};
std::atomic<int32_t> g_nWorkersAlive{0};
std::recursive_mutex g_threadLock;  // guards the two thread objects (stop runs inside start)
std::unique_ptr<os::Thread> g_connWorker;
std::unique_ptr<os::Thread> g_disconnWorker;

bool KeepRunning(uint32_t generation) {
  return g_bOctWorkersRunning.load(std::memory_order_acquire) &&
         g_nWorkerGeneration.load(std::memory_order_acquire) == generation;
}

// The generation of the connection worker on this thread; 0 elsewhere.
thread_local uint32_t t_workerGeneration = 0;

// A connection worker abandoned by a stop: once its blocked library call
// returns it steps and reports nothing more, so no host callback runs
// after the SDK's release.
bool Abandoned() {
  return t_workerGeneration != 0 && !KeepRunning(t_workerGeneration);
}

std::shared_ptr<OctChannel> AsOct(const ChannelPtr& channel) {
  return std::dynamic_pointer_cast<OctChannel>(channel);
}

void ConnWorker(uint32_t generation) {
  t_workerGeneration = generation;
  while (KeepRunning(generation)) {
    std::vector<OctConnectionPtr> snapshot;
    {
      std::lock_guard<os::RecursiveLock> guard(g_octConnLock);
      snapshot.reserve(g_octConnections.size());
      for (const auto& entry : g_octConnections) snapshot.push_back(entry.second);
    }
    for (const OctConnectionPtr& conn : snapshot) {
      if (Abandoned()) break;
      conn->Process();
    }
    os::Sleep(kStepMs);
  }
  g_nWorkersAlive.fetch_sub(1);
}

void DisconnWorker(uint32_t generation) {
  while (KeepRunning(generation)) {
    OctConnectionPtr conn;
    {
      std::lock_guard<std::mutex> guard(g_octReleaseLock);
      if (!g_octReleaseQueue.empty()) {
        conn = std::move(g_octReleaseQueue.front());
        g_octReleaseQueue.pop_front();
      }
    }
    if (conn) {
      conn->Retire();
    } else {
      os::Sleep(kIdleMs);
    }
  }
  g_nWorkersAlive.fetch_sub(1);
}

bool StartWorker(std::unique_ptr<os::Thread>& slot, void (*body)(uint32_t), uint32_t generation) {
  auto thread = std::make_unique<os::Thread>();
  g_nWorkersAlive.fetch_add(1);
  if (!thread->Start([body, generation] { body(generation); }, kWorkerStackSize)) {
    g_nWorkersAlive.fetch_sub(1);
    return false;
  }
  slot = std::move(thread);
  return true;
}

// Waits for a worker; one that does not end in time is logged and
// abandoned (it ends by itself once its library call returns).
void StopWorker(std::unique_ptr<os::Thread>& slot, int64_t timeoutMs, const char* text) {
  if (!slot) return;
  if (!slot->Join(timeoutMs)) QC_LOG(log::kWarning, "oct_conn", "%s", text);
  slot.reset();
}

}  // namespace

OctConnection::OctConnection() : m_pLock(std::make_unique<os::RecursiveLock>()) {}

// Makes no library call: the handle is closed by the disconnection worker
// or by the library's own release.
OctConnection::~OctConnection() = default;

bool OctConnection::ConnectChannel(int32_t nChannel, const char* szHost, int32_t nPort,
                                   const char* szUser, const char* szPassword, bool bByNimbus) {
  std::lock_guard<os::RecursiveLock> guard(g_octConnLock);
  for (const auto& entry : g_octConnections) {
    const OctConnectionPtr& conn = entry.second;
    if (conn->Attach(conn, nChannel, szHost, nPort, szUser, szPassword, bByNimbus)) return true;
  }
  auto conn = std::make_shared<OctConnection>();
  return conn->Attach(conn, nChannel, szHost, nPort, szUser, szPassword, bByNimbus);
}

bool OctConnection::Matches(const std::string& host, int32_t port, const std::string& user,
                            const std::string& password, bool byNimbus) const {
  return host == m_strHost && user == m_strUser && password == m_strPassword &&
         byNimbus == m_bByNimbus && (byNimbus || port == m_nPort);
}

bool OctConnection::Attach(const OctConnectionPtr& self, int32_t nChannel, const char* szHost,
                           int32_t nPort, const char* szUser, const char* szPassword,
                           bool bByNimbus) {
  const std::string host = szHost != nullptr ? szHost : "";
  const std::string user = szUser != nullptr ? szUser : "";
  const std::string password = szPassword != nullptr ? szPassword : "";
  switch (State()) {
    case kOctIdle:
      m_strHost = host;
      m_nPort = nPort;
      m_strUser = user;
      m_strPassword = password;
      m_bByNimbus = bByNimbus;
      break;
    case kOctConnecting:
    case kOctConnected:
    case kOctReady:
      if (!Matches(host, nPort, user, password, bByNimbus)) return false;
      break;
    default: return false;
  }
  if (Handle() < 0) {
    const platform::OctApi& oct = platform::Oct();
    const int32_t handle =
        m_bByNimbus ? oct.connect_by_nimbus(m_strHost.c_str(), m_strUser.c_str(),
                                            m_strPassword.c_str(), 0, 0)
                    : oct.connect_by_hostname(m_strHost.c_str(), m_nPort, m_strUser.c_str(),
                                              m_strPassword.c_str(), 0, 0, 0);
    if (handle < 0) return false;
    m_hConn.store(handle, std::memory_order_release);
    m_eState.store(kOctConnecting, std::memory_order_release);
    std::lock_guard<os::RecursiveLock> guard(g_octConnLock);
    g_octConnections[handle] = self;
  }
  if (std::shared_ptr<OctChannel> channel = AsOct(qcsdk::FindChannel(nChannel))) {
    std::lock_guard<os::RecursiveLock> guard(*m_pLock);
    // The connection may have failed since the state was read above.
    if (State() == kOctClosed) return false;
    channel->SetConnection(self);
    m_pending.push_back(channel);
  }
  return true;
}

void OctConnection::StoreDevInfo(const OctDevInfo& info) {
  std::lock_guard<os::RecursiveLock> guard(*m_pLock);
  m_devInfo = info;
  m_strDeviceId = info.device_id != nullptr ? info.device_id : "";
  m_strName = info.name != nullptr ? info.name : "";
  m_strVersion = info.version != nullptr ? info.version : "";
  m_devInfo.device_id = info.device_id != nullptr ? m_strDeviceId.c_str() : nullptr;
  m_devInfo.name = info.name != nullptr ? m_strName.c_str() : nullptr;
  m_devInfo.version = info.version != nullptr ? m_strVersion.c_str() : nullptr;
  m_nDeviceType.store(info.device_type, std::memory_order_release);
}

void OctConnection::OnConnEvent(int32_t nType, int32_t nResult, const OctDevInfo* pInfo) {
  if (nType == OCTC_CONN_RESULT && nResult == 0) {
    if (pInfo != nullptr) {
      StoreDevInfo(*pInfo);
      m_eState.store(kOctReady, std::memory_order_release);
    } else {
      m_eState.store(kOctConnected, std::memory_order_release);
    }
    return;
  }
  if (nType != OCTC_CONN_RESULT && nType != OCTC_CONN_CLOSED) return;
  // The connection failed or ended. It takes no further channel from here
  // (Attach looks at the state under the same lock), and every channel it
  // has, pending ones included, is told and let go, so it can retire.
  std::vector<ChannelPtr> channels;
  std::vector<ChannelPtr> pending;
  std::map<int32_t, ChannelPtr> handles;
  {
    std::lock_guard<os::RecursiveLock> guard(*m_pLock);
    m_eState.store(kOctClosed, std::memory_order_release);
    channels = Channels();
    pending.swap(m_pending);
    if (m_opening) pending.push_back(std::move(m_opening));  // told here; its stream is not entered
    // A closed link has nothing left to close under it.
    if (nType == OCTC_CONN_CLOSED) handles.swap(m_handles);
  }
  const int32_t kind = nType == OCTC_CONN_RESULT ? 1 : 3;
  for (const ChannelPtr& c : channels) {
    if (auto channel = AsOct(c)) channel->OnStreamState(Handle(), -1, kind, nResult);
  }
}

void OctConnection::Process() {
  const platform::OctApi& oct = platform::Oct();
  switch (State()) {
    case kOctConnected: {
      OctDevInfo info{};
      if (oct.cmd_get_dev_info(Handle(), &info) == 0) {
        StoreDevInfo(info);
        m_eState.store(kOctReady, std::memory_order_release);
        oct.cmd_free_dev_info(&info);
      }
      return;
    }
    case kOctReady: {
      for (;;) {
        if (Abandoned()) return;
        ChannelPtr next;
        {
          std::lock_guard<os::RecursiveLock> guard(*m_pLock);
          if (m_pending.empty()) break;
          next = std::move(m_pending.front());
          m_pending.erase(m_pending.begin());
          m_opening = next;
        }
        const std::shared_ptr<OctChannel> channel = AsOct(next);
        // A channel disconnected while it waited needs no stream.
        if (!channel || channel->Status() != QCLS_Connecting) {
          std::lock_guard<os::RecursiveLock> guard(*m_pLock);
          m_opening.reset();
          continue;
        }
        channel->SetDeviceKind(DeviceType());
        int32_t stream;
        bool ours;
        {
          const OpenScope opening(shared_from_this());
          stream =
              oct.stream_open(Handle(), channel->DeviceChannel(), channel->StreamIndex(), 0, 1);
          std::lock_guard<os::RecursiveLock> guard(*m_pLock);
          // A closed link or a disconnect has taken the channel meanwhile
          // (and told it): then the stream is not entered.
          ours = m_opening == next;
          m_opening.reset();
          if (ours && stream >= 0) m_handles[stream] = channel;
        }
        if (Abandoned()) return;
        if (!ours) {
          // A closed link has nothing left to close under it.
          if (stream > 0 && State() != kOctClosed) oct.stream_close(Handle(), stream);
        } else if (stream < 0) {
          // A failed open is not entered: it would keep the connection alive.
          channel->OnLinkEvent(6, nullptr);
          channel->CloseAllHandles();
        } else if (channel->Status() == QCLS_UnConnect) {
          // Unconnected meanwhile by a path that had not dropped it yet.
          RemoveHandle(stream);
          oct.stream_close(Handle(), stream);
        }
      }
      if (!Channels().empty()) return;
      OctConnectionPtr retired;
      {
        // Looked at again under the table lock: a connect holds it while it
        // attaches a channel, so none can join after this check.
        std::lock_guard<os::RecursiveLock> guard(g_octConnLock);
        auto it = g_octConnections.find(Handle());
        // A link closed during this step leaves its handle to the library.
        if (it != g_octConnections.end() && it->second.get() == this && Channels().empty() &&
            State() == kOctReady) {
          retired = std::move(it->second);
          g_octConnections.erase(it);
        }
      }
      if (retired) {
        std::lock_guard<std::mutex> guard(g_octReleaseLock);
        g_octReleaseQueue.push_back(std::move(retired));
      }
      return;
    }
    case kOctClosed: {
      if (!Channels().empty()) return;
      std::lock_guard<os::RecursiveLock> guard(g_octConnLock);
      auto it = g_octConnections.find(Handle());
      if (it != g_octConnections.end() && it->second.get() == this) g_octConnections.erase(it);
      return;
    }
    default: return;
  }
}

void OctConnection::Retire() {
  m_eState.store(kOctClosed, std::memory_order_release);
  const int32_t handle = m_hConn.exchange(-1);
  if (handle >= 0) platform::Oct().close_conn(handle);
}

void OctConnection::AddHandle(int32_t nChannel, int32_t hSub) {
  ChannelPtr channel = qcsdk::FindChannel(nChannel);
  if (!channel) return;
  std::lock_guard<os::RecursiveLock> guard(*m_pLock);
  m_handles[hSub] = std::move(channel);
}

void OctConnection::RemoveHandle(int32_t hSub) {
  ChannelPtr dropped;  // released outside the lock
  std::lock_guard<os::RecursiveLock> guard(*m_pLock);
  auto it = m_handles.find(hSub);
  if (it == m_handles.end()) return;
  dropped = std::move(it->second);
  m_handles.erase(it);
}

ChannelPtr OctConnection::FindChannel(int32_t hSub) const {
  auto find = [&] {
    std::lock_guard<os::RecursiveLock> guard(*m_pLock);
    auto it = m_handles.find(hSub);
    return it != m_handles.end() ? it->second : ChannelPtr();
  };
  if (ChannelPtr found = find()) return found;
  {
    std::unique_lock<std::mutex> lock(m_openMutex);
    if (m_nOpening == 0) return nullptr;
    m_openDone.wait_for(lock, std::chrono::milliseconds(kOpenWaitMs),
                        [this] { return m_nOpening == 0; });
  }
  return find();
}

OctConnection::OpenScope::OpenScope(std::shared_ptr<OctConnection> conn) : m_conn(std::move(conn)) {
  if (!m_conn) return;
  std::lock_guard<std::mutex> lock(m_conn->m_openMutex);
  ++m_conn->m_nOpening;
}

OctConnection::OpenScope::~OpenScope() {
  if (!m_conn) return;
  {
    std::lock_guard<std::mutex> lock(m_conn->m_openMutex);
    --m_conn->m_nOpening;
  }
  m_conn->m_openDone.notify_all();
}

std::vector<ChannelPtr> OctConnection::Channels() const {
  std::vector<ChannelPtr> out;
  std::lock_guard<os::RecursiveLock> guard(*m_pLock);
  auto add = [&out](const ChannelPtr& c) {
    if (c && std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
  };
  for (const ChannelPtr& c : m_pending) add(c);
  add(m_opening);
  for (const auto& entry : m_handles) add(entry.second);
  return out;
}

std::vector<int32_t> OctConnection::DropChannel(const Channel* pChannel) {
  std::vector<int32_t> handles;
  std::vector<ChannelPtr> dropped;  // released after the lock
  std::lock_guard<os::RecursiveLock> guard(*m_pLock);
  for (auto it = m_pending.begin(); it != m_pending.end();) {
    if (it->get() == pChannel) {
      dropped.push_back(std::move(*it));
      it = m_pending.erase(it);
    } else {
      ++it;
    }
  }
  if (m_opening.get() == pChannel) dropped.push_back(std::move(m_opening));
  for (auto it = m_handles.begin(); it != m_handles.end();) {
    if (it->second.get() == pChannel) {
      handles.push_back(it->first);
      dropped.push_back(std::move(it->second));
      it = m_handles.erase(it);
    } else {
      ++it;
    }
  }
  return handles;
}

OctConnectionPtr FindConnection(int32_t hConn) {
  std::lock_guard<os::RecursiveLock> guard(g_octConnLock);
  auto it = g_octConnections.find(hConn);
  return it != g_octConnections.end() ? it->second : OctConnectionPtr();
}

std::size_t OctConnectionCount() {
  std::lock_guard<os::RecursiveLock> guard(g_octConnLock);
  return g_octConnections.size();
}

int32_t OctWorkersAlive() {
  return g_nWorkersAlive.load();
}

bool StartOctWorkers() {
  std::lock_guard<std::recursive_mutex> guard(g_threadLock);
  if (g_connWorker || g_disconnWorker) StopOctWorkers();  // one pair at a time
  const uint32_t generation = g_nWorkerGeneration.fetch_add(1) + 1;
  g_bOctWorkersRunning.store(true, std::memory_order_release);
  if (!StartWorker(g_connWorker, &ConnWorker, generation) ||
      !StartWorker(g_disconnWorker, &DisconnWorker, generation)) {
    StopOctWorkers();
    return false;
  }
  return true;
}

void StopOctWorkers() {
  std::lock_guard<std::recursive_mutex> guard(g_threadLock);
  g_bOctWorkersRunning.store(false, std::memory_order_release);
  StopWorker(g_connWorker, kConnStopMs, "wait conn worker thread timeout");
  StopWorker(g_disconnWorker, kDisconnStopMs, "wait disconn worker thread timeout");
  // Whatever is still registered belongs to a library that is about to be
  // released; a later start begins with empty tables.
  std::map<int32_t, OctConnectionPtr> connections;
  std::deque<OctConnectionPtr> queue;
  {
    std::lock_guard<os::RecursiveLock> lock(g_octConnLock);
    connections.swap(g_octConnections);
  }
  {
    std::lock_guard<std::mutex> lock(g_octReleaseLock);
    queue.swap(g_octReleaseQueue);
  }
}

}  // namespace qcsdk
