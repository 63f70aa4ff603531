#include "netio/wait.h"

#include <errno.h>
#include <poll.h>

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

WaitResult WaitFor(int fd, short events, Clock::time_point deadline, Interrupt interrupt) {
  for (;;) {
    if (interrupt.flag && interrupt.flag->load()) return WaitResult::kWoken;
    pollfd fds[2] = {{fd, events, 0}, {interrupt.wake_fd, POLLIN, 0}};
    int count = interrupt.wake_fd >= 0 ? 2 : 1;
    int timeout = MillisUntil(deadline);
    if (interrupt.flag) timeout = std::min(timeout, kFlagCheckMs);
    int n = ::poll(fds, count, timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WaitResult::kError;
    }
    if (count == 2 && (fds[1].revents & POLLIN)) return WaitResult::kWoken;
    if (n == 0) {
      if (Clock::now() >= deadline) return WaitResult::kTimeout;
      continue;
    }
    if (fds[0].revents & (events | POLLERR | POLLHUP)) return WaitResult::kReady;
    if (fds[0].revents & POLLNVAL) return WaitResult::kError;
  }
}

}  // namespace netio
