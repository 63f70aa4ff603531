// One link to a device: its own thread connects (through the directory when
// addressed by number), logs in, then receives messages and hands them to
// the registered callbacks until the link ends, which it reports once.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "frame.h"
#include "library.h"
#include "net.h"

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

class Link {
 public:
  enum class Stop { kNone, kDisconnect, kRelease };

  Link(Library& library, LinkParams params);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  int32_t id() const { return params_.link_id; }
  uint64_t thread_id() const { return thread_id_.load(); }
  void set_thread_id(uint64_t id) { thread_id_.store(id); }

  // The thread body.
  void Run();
  // Asks the thread to end: kDisconnect ends with result 2, kRelease
  // without any report.
  void RequestStop(Stop why);
  // Sends one frame; false when the link is not up or the send failed (a
  // failed send breaks the link, which then reports itself lost).
  bool Send(const std::vector<uint8_t>& frame);

 private:
  struct Outcome {
    uint8_t result;
    std::string text;
  };
  enum class Read { kFrame, kStopped, kTimeout, kFailed };

  Outcome Session();
  bool Resolve(Outcome* failure);
  bool Handshake(Outcome* failure);
  Outcome Receive();
  // Handles one frame of an established link; an outcome ends the link.
  bool Dispatch(const wire::Frame& frame, Outcome* end);
  Read ReadFrame(wire::Frame* frame, net::Clock::time_point deadline, std::string* error);
  bool SendLocked(const std::vector<uint8_t>& frame);
  void Report(uint8_t result, const std::string& text);

  Library& library_;
  LinkParams params_;
  Settings settings_;
  std::atomic<uint64_t> thread_id_{0};
  std::atomic<Stop> stop_{Stop::kNone};
  net::WakeEvent wake_;
  net::UniqueFd fd_;
  wire::FrameParser parser_;
  net::Clock::time_point last_receive_;
  std::mutex send_mu_;
  bool up_ = false;      // guarded by send_mu_
  bool broken_ = false;  // guarded by send_mu_
};

}  // namespace qvc
