// Look-ups in the directory service: a device number to its address, port
// and channel count. One short TCP exchange per look-up, driven either by an
// event loop (DirectoryQuery) or by a waiting caller (LookupDevice).
#pragma once

#include <string>

#include "frame.h"
#include "library.h"
#include "messages.h"
#include "netio/fd.h"
#include "netio/wait.h"

namespace qvc {

// One look-up on a non-blocking socket: Begin connects, then Progress is
// called whenever the socket is ready until the answer or a failure.
class DirectoryQuery {
 public:
  enum class State { kPending, kAnswered, kFailed };

  State Begin(const Settings& settings, const std::string& group, int32_t number);
  State Progress();
  // The failure text of a look-up that ran out of time.
  std::string TimeoutText() const;
  void Close() { fd_.Reset(); }

  netio::Socket fd() const { return fd_.get(); }
  // Still connecting: wait for writability, else for readability.
  bool connecting() const { return connecting_; }
  const wire::DirAnswer& answer() const { return answer_; }
  const std::string& error() const { return error_; }

 private:
  State Fail(std::string text);
  State SendLookup();

  netio::Fd fd_;
  bool connecting_ = false;
  std::string group_;
  int32_t number_ = 0;
  wire::FrameParser parser_{64};
  wire::DirAnswer answer_;
  std::string error_;
};

enum class LookupResult { kAnswered, kWoken, kFailed };

// Asks the directory of `settings` and waits for the answer, the wake event
// (wake_fd < 0: none) or the deadline; `answer->found` tells whether the
// device is registered. kFailed sets `error`.
LookupResult LookupDevice(const Settings& settings, const std::string& group, int32_t number,
                          int wake_fd, netio::Clock::time_point deadline, wire::DirAnswer* answer,
                          std::string* error);

}  // namespace qvc
