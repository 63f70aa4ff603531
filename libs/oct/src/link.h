// One device link of the client library: a TCP connection that carries the
// login, the sub-handles (live stream, playback, download, talk) and the
// synchronous command exchanges. A reader thread reads every message and
// completes waiting commands; a dispatcher thread runs the host's callbacks,
// so a callback may make synchronous calls on its own link.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_io.h"
#include "messages.h"
#include "settings.h"

namespace octc {

enum class SubKind { kStream, kVod, kDown, kChat };

struct LinkParams {
  bool by_number = false;
  std::string host;  // address or host name, or the cloud number
  uint16_t port = 0;
  std::string user;
  std::vector<uint8_t> sealed_password;  // passed through the encrypt procedure
};

class Link {
 public:
  Link(int32_t id, LinkParams params, Settings settings);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  void Start();
  // Ends the link on the host's request: no callback starts afterwards.
  void Close();
  // Waits for both threads; must not run on one of them.
  void Join();
  bool OnOwnThread() const;
  int32_t id() const { return m_id; }

  // A synchronous exchange; the reply's payload is returned in reply.
  // Returns 0, OCTC_ERR_TIMEOUT, OCTC_ERR_LINK_LOST or OCTC_ERR_FAILED.
  int32_t Request(wire::Type type, int32_t handle, const std::vector<uint8_t>& payload,
                  std::vector<uint8_t>* reply);
  // Opens a sub-handle: returns it (> 0) or a negative result.
  int32_t OpenSub(SubKind kind, wire::Type type, const std::vector<uint8_t>& payload);
  int32_t CloseSub(SubKind kind, int32_t handle, wire::Type type);
  bool HasSub(SubKind kind, int32_t handle);
  // A message without answer; false when the link is not up.
  bool Send(wire::Type type, int32_t handle, const std::vector<uint8_t>& payload);

 private:
  // One waiting request; its own condition variable, so that an answer
  // wakes only the caller that waits for it.
  struct Pending {
    std::condition_variable cv;
    bool done = false;
    int32_t result = 0;
    std::vector<uint8_t> reply;
  };

  void ReaderMain();
  void DispatcherMain();
  int32_t Establish(wire::DevInfoData* info);
  int32_t ResolveTarget(std::string* host, uint16_t* port);
  // Handles one message after login; false = protocol violation.
  bool Handle(wire::Frame& f);
  bool HandleState(int32_t handle, SubKind kind, wire::Reader& r);
  bool HandleData(wire::Frame& f, SubKind kind);
  bool Complete(wire::Frame& f);
  void FailPending(int32_t result);
  void Post(std::function<void()> job);
  bool FindSub(int32_t handle, SubKind* kind);
  // Payload buffers return here after their callback, so that large frames do
  // not fault in fresh memory every time.
  std::vector<uint8_t> TakeBuffer();
  void Recycle(std::vector<uint8_t>&& buffer);
  void DropSub(int32_t handle);

  const int32_t m_id;
  const LinkParams m_params;
  const Settings m_settings;

  std::mutex m_connLock;  // guards m_conn creation against Close
  std::shared_ptr<net::FrameConn> m_conn;
  std::atomic<bool> m_closing{false};
  std::atomic<bool> m_up{false};
  bool m_byeReceived = false;

  std::mutex m_subLock;
  std::map<int32_t, SubKind> m_subs;

  std::mutex m_pendingLock;
  std::map<uint32_t, std::shared_ptr<Pending>> m_pending;
  uint32_t m_seq = 0;
  bool m_pendingOpen = true;

  std::mutex m_queueLock;
  std::condition_variable m_queueCv;
  std::deque<std::function<void()>> m_queue;
  bool m_readerDone = false;

  std::mutex m_spareLock;
  std::vector<std::vector<uint8_t>> m_spare;

  std::thread m_reader;
  std::thread m_dispatcher;
  std::atomic<std::thread::id> m_dispatcherId{};
  std::atomic<std::thread::id> m_readerId{};
};

// Allocates sub-handle numbers, unique across links, always > 0.
int32_t NextSubHandle();

}  // namespace octc
