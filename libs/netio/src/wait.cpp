#include "netio/wait.h"

#include <algorithm>
#include <climits>

namespace netio {
namespace {

constexpr int kFlagCheckMs = 100;

}  // namespace

int MillisUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  if (left.count() >= INT_MAX) return INT_MAX;
  return static_cast<int>(left.count()) + 1;
}

WaitResult WaitFor(Socket fd, uint32_t events, Clock::time_point deadline, Interrupt interrupt) {
  for (;;) {
    if (interrupt.flag && interrupt.flag->load()) return WaitResult::kWoken;
    PollItem items[2] = {{fd, events, 0}, {interrupt.wake_fd, Events::kReadable, 0}};
    const size_t count = interrupt.wake_fd != kNoSocket ? 2 : 1;
    int timeout = MillisUntil(deadline);
    if (interrupt.flag) timeout = std::min(timeout, kFlagCheckMs);
    const int n = PollOnce(items, count, timeout);
    if (n < 0) return WaitResult::kError;
    if (count == 2 && (items[1].ready & Events::kReadable)) return WaitResult::kWoken;
    if (n == 0) {
      if (Clock::now() >= deadline) return WaitResult::kTimeout;
      continue;
    }
    if (items[0].ready != 0) return WaitResult::kReady;
  }
}

}  // namespace netio
