// How a tile's link fails and when it is tried again: the message shown for
// each kind of failure, and the growing delay between attempts.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "hostlib/device_source.h"

namespace qcview {

// What the user reads on the tile and on standard error when a connect
// fails or a link ends: `event` is the SDK's link event, `attempt` how long
// the connect had run when it failed (a refusal comes back at once, an
// unanswered connect only after the transport gives up).
std::string FailureText(const hostlib::DeviceSource& source, int32_t event,
                        std::chrono::milliseconds attempt);

// Delays between reconnects: 1 s, 2 s, 4 s ... up to 30 s, back to 1 s after
// a connection that worked.
class Backoff {
 public:
  static constexpr std::chrono::seconds kFirst{1}, kLongest{30};
  // The delay before the next attempt; each call doubles the one after.
  std::chrono::seconds Next() {
    const std::chrono::seconds delay = m_next;
    m_next = std::min(m_next * 2, kLongest);
    return delay;
  }
  void Reset() { m_next = kFirst; }

 private:
  std::chrono::seconds m_next = kFirst;
};

}  // namespace qcview
