// Internal state of the device engine: the engine's shared state and one
// client session served on its own thread.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "frame_io.h"
#include "netio/accept_loop.h"
#include "netio/fd.h"
#include "octc_device/device.h"

namespace octc::device {

enum class SubKind { kStream, kVod, kDown, kChat };

class SearchResponder;

class Session {
 public:
  Session(uint64_t id, netio::Fd fd, DeviceEngine::Impl& engine);
  ~Session();
  void Start();
  void Join();
  uint64_t id() const { return m_id; }
  bool done() const { return m_done.load(); }
  bool logged_in() const { return m_loggedIn.load(); }
  net::FrameConn& conn() { return *m_conn; }
  // Sends on a sub-handle of the given kind; false when it is not open.
  bool SendOn(int32_t handle, SubKind kind, wire::Type type, const std::vector<uint8_t>& payload,
              bool close_after = false);
  // The same with the payload's bulk (data, size) sent without a copy.
  bool SendOnGather(int32_t handle, SubKind kind, wire::Type type,
                    const std::vector<uint8_t>& prefix, const uint8_t* data, size_t size);
  // Handles of open live streams on channel/stream.
  std::vector<int32_t> StreamsOf(int32_t channel, int32_t stream);

 private:
  struct Sub {
    SubKind kind;
    int32_t channel = 0;
    int32_t stream = 0;
    // A live stream takes pushed pictures only once its open result and
    // media information are out.
    bool ready = true;
  };
  void Main();
  bool Login();
  bool Serve(wire::Frame& f);
  void Delay();
  bool Answer(wire::Type type, uint32_t seq, int32_t handle, const std::vector<uint8_t>& payload);
  bool State(int32_t handle, int32_t status, int32_t result);
  bool AddSub(int32_t handle, Sub sub);
  bool RemoveSub(int32_t handle, SubKind kind);
  bool HasSub(int32_t handle, SubKind kind);
  void MarkReady(int32_t handle);
  void CloseAllSubs();

  const uint64_t m_id;
  DeviceEngine::Impl& m_engine;
  std::shared_ptr<net::FrameConn> m_conn;
  std::atomic<bool> m_loggedIn{false};
  std::atomic<bool> m_done{false};
  std::mutex m_lock;
  std::map<int32_t, Sub> m_subs;
  std::thread m_thread;
};

struct DeviceEngine::Impl {
  Impl(DeviceConfig c, DeviceHandler* h);

  std::vector<std::shared_ptr<Session>> LiveSessions();
  std::shared_ptr<Session> FindSession(uint64_t id);
  bool TryLogin(Session& s, int32_t* result);  // enforces the client limit
  // The accept loop's work: joins finished sessions; serves a new one.
  void Reap();
  void Admit(netio::Fd fd);
  DeviceConfig Config() const;

  mutable std::mutex lock;
  DeviceConfig config;
  DeviceHandler* handler;
  DeviceHandler defaults;
  std::map<uint64_t, std::shared_ptr<Session>> sessions;
  std::map<std::pair<int32_t, int32_t>, OctMediaInfo> media;
  size_t logged_in = 0;
  uint64_t next_session = 1;
  bool corrupt_next_list = false;

  netio::AcceptLoop acceptor;
  std::atomic<bool> stop{false};
  std::atomic<int> delay_ms{0};
  std::atomic<bool> silent{false};
  std::atomic<bool> config_refused{false};
  netio::Fd registration;
  std::atomic<bool> registered{false};
  std::unique_ptr<SearchResponder> responder;
};

}  // namespace octc::device
