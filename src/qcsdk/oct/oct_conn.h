// One OCT connection handle shared by every OCT channel that reaches the same
// device with the same credentials, the record of which channel owns each
// sub-handle under it, and the two workers that step and retire connections.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/oct_api.h"
#include "platform/os.h"
#include "qcsdk/base/nocopyable.h"
#include "qcsdk/channel/registry.h"

namespace qcsdk {

enum OctConnState : int32_t {
  kOctIdle = 0,        // new, parameters not yet stored
  kOctConnecting = 1,  // connect call accepted, result pending
  kOctConnected = 2,   // link up, device information not yet known
  kOctReady = 3,       // device information known: live streams may be opened
  kOctClosed = 4,      // failed, lost, or handed to the disconnection worker
};

class OctConnection;
using OctConnectionPtr = std::shared_ptr<OctConnection>;

class OctConnection : public asl::NoCopyable, public std::enable_shared_from_this<OctConnection> {
 public:
  OctConnection();
  ~OctConnection();

  // Attaches channel nChannel to a connection with the same parameters, or
  // to a new one; false when the library refused the connect call.
  static bool ConnectChannel(int32_t nChannel, const char* szHost, int32_t nPort,
                             const char* szUser, const char* szPassword, bool bByNimbus);
  bool Attach(const OctConnectionPtr& self, int32_t nChannel, const char* szHost, int32_t nPort,
              const char* szUser, const char* szPassword, bool bByNimbus);
  // One step of the connection worker.
  void Process();
  // What the library reports about the connection itself.
  void OnConnEvent(int32_t nType, int32_t nResult, const OctDevInfo* pInfo);

  // Open calls return the new sub-handle at once and the library may report
  // on it before the caller has entered it. An open is made inside this
  // scope; a report for an unknown sub-handle waits until no open is under
  // way on the connection, then looks again.
  class OpenScope {
   public:
    explicit OpenScope(std::shared_ptr<OctConnection> conn);
    ~OpenScope();
    OpenScope(const OpenScope&) = delete;
    OpenScope& operator=(const OpenScope&) = delete;

   private:
    std::shared_ptr<OctConnection> m_conn;
  };

  void AddHandle(int32_t nChannel, int32_t hSub);
  void RemoveHandle(int32_t hSub);
  ChannelPtr FindChannel(int32_t hSub) const;
  // Every channel that is pending or owns a sub-handle, each once.
  std::vector<ChannelPtr> Channels() const;
  // Takes the channel off the pending list and out of every handle entry;
  // returns the sub-handles that were entered for it (streams the worker
  // opened whose result the channel has not seen yet).
  std::vector<int32_t> DropChannel(const Channel* pChannel);

  int32_t Handle() const { return m_hConn.load(std::memory_order_acquire); }
  OctConnState State() const { return m_eState.load(std::memory_order_acquire); }
  // The device type of the device information; 0 while unknown.
  int32_t DeviceType() const { return m_nDeviceType.load(std::memory_order_acquire); }
  // Disconnection worker: closes the library handle.
  void Retire();

 private:
  void StoreDevInfo(const OctDevInfo& info);
  bool Matches(const std::string& host, int32_t port, const std::string& user,
               const std::string& password, bool byNimbus) const;

  std::string m_strHost;
  int32_t m_nPort = 0;
  std::string m_strUser;
  std::string m_strPassword;
  bool m_bByNimbus = false;
  std::atomic<int32_t> m_hConn{-1};
  std::atomic<OctConnState> m_eState{kOctIdle};
  std::unique_ptr<os::RecursiveLock> m_pLock;  // guards the device information and the tables
  OctDevInfo m_devInfo{};
  std::string m_strDeviceId;
  std::string m_strName;
  std::string m_strVersion;
  std::atomic<int32_t> m_nDeviceType{0};
  std::vector<ChannelPtr> m_pending;
  // Taken off m_pending, its stream being opened: still one of Channels(),
  // so a link that closes or a channel that leaves meanwhile finds it.
  ChannelPtr m_opening;
  std::map<int32_t, ChannelPtr> m_handles;
  mutable std::mutex m_openMutex;  // guards m_nOpening
  mutable std::condition_variable m_openDone;
  int32_t m_nOpening = 0;
};

// The connection registered under a library connection handle, or empty.
OctConnectionPtr FindConnection(int32_t hConn);
// Connections currently registered (tests and diagnostics).
std::size_t OctConnectionCount();
// Worker threads still running, including ones abandoned after a stop
// time-out (tests wait for this to reach 0).
int32_t OctWorkersAlive();

}  // namespace qcsdk
