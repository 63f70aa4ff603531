// One link to a device, served by one event loop of the library: it looks
// the device up (when addressed by number), connects, logs in, then decodes
// what arrives and hands it to the registered callbacks until the link ends,
// which it reports once. Sends come from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "directory_client.h"
#include "event_loop.h"
#include "frame.h"
#include "library.h"
#include "netio/fd.h"
#include "netio/wait.h"

namespace qvc {

struct LinkParams {
  int32_t link_id = 0;
  bool by_number = false;
  uint32_t address = 0;  // network order, by address
  uint16_t port = 0;     // host order, by address
  std::string group;     // by number
  int32_t number = 0;    // by number
  int32_t device_channel = 0;
  int32_t connect_type = 0;
  std::string user;
  std::string password;
};

// How long a send may keep the caller's thread when the device does not
// read: QVC_SendData, and the flush of a disconnecting link.
inline constexpr auto kSendBudget = std::chrono::seconds(5);
// Bytes queued for a device beyond which a sender waits (within the send
// budget) for the device to read; a single message of any size is queued
// when nothing else is.
inline constexpr size_t kSendQueueLimit = 1024 * 1024;

class Link : public EventLoop::Handler, public std::enable_shared_from_this<Link> {
 public:
  enum class Stop { kNone, kDisconnect, kRelease };

  Link(Library& library, LinkParams params);
  ~Link() override;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  int32_t id() const { return params_.link_id; }

  // Hands the link to `loop`, where it starts; false when the loop has ended.
  bool Start(std::shared_ptr<EventLoop> loop);
  // Asks the link to end: kDisconnect ends with result 2, kRelease without
  // any report. Any thread; the end happens on the loop.
  void RequestStop(Stop why);
  // Waits until the link has made its last report (not from a loop thread).
  void WaitEnded();
  // Queues one frame and sends what the socket takes; false when the link
  // is not up or the device has not made room within the send budget (the
  // link is then broken and reports itself lost).
  bool Send(const std::vector<uint8_t>& frame);

  void OnEvents(uint32_t events) override;
  netio::Clock::time_point OnTimer(netio::Clock::time_point now) override;
  void Abandon() override;

 private:
  enum class Phase { kWaiting, kLookup, kConnect, kLogin, kUp, kDraining, kEnded };
  struct Outcome {
    uint8_t result;
    std::string text;
  };

  void Begin();
  void BeginConnect(uint32_t address, uint16_t port);
  void Connected();
  void LookupProgress(DirectoryQuery::State state);
  void ReadDevice();
  // Handles every whole frame in the buffer; false once the link ended or
  // was asked to.
  bool DecodeAll();
  bool HandleLogin(const wire::FrameView& frame);
  bool Dispatch(const wire::FrameView& frame);
  void Fail(std::string text) { End({QVC_CONNECT_FAILED, std::move(text)}); }
  void Lose(std::string text) { End({QVC_CONNECT_LOST, std::move(text)}); }
  // Ends the link once: says Bye on a disconnect, reports, forgets the link.
  void End(Outcome outcome);
  void Finish();
  void Report(uint8_t result, const std::string& text);

  // Send queue, all under send_mu_.
  void QueueLocked(const std::vector<uint8_t>& frame);
  void FlushLocked();
  void BreakLocked();
  void WatchLocked();
  void SendFromLoop(const std::vector<uint8_t>& frame);

  Library& library_;
  LinkParams params_;
  Settings settings_;
  std::shared_ptr<EventLoop> loop_;
  uint64_t key_ = 0;
  std::atomic<Stop> stop_{Stop::kNone};

  // Loop thread only.
  Phase phase_ = Phase::kWaiting;
  DirectoryQuery lookup_;
  wire::FrameParser parser_;
  bool challenged_ = false;
  netio::Clock::time_point deadline_;  // connect, login or draining
  netio::Clock::time_point next_ping_;
  netio::Clock::time_point last_receive_;

  // The device socket stays open until the link is destroyed, so a sender
  // waiting on it never meets a reused descriptor; ending shuts it down.
  netio::Fd fd_;
  std::mutex send_mu_;
  std::condition_variable ended_cv_;
  bool ended_ = false;                    // guarded by send_mu_
  bool up_ = false;                       // guarded by send_mu_
  bool broken_ = false;                   // guarded by send_mu_
  uint32_t base_events_ = 0;              // guarded by send_mu_; besides kWritable
  uint32_t watching_ = 0;                 // guarded by send_mu_; 0: not in the loop
  std::deque<std::vector<uint8_t>> out_;  // guarded by send_mu_
  size_t out_offset_ = 0;                 // guarded by send_mu_
  size_t queued_ = 0;                     // guarded by send_mu_
};

}  // namespace qvc
