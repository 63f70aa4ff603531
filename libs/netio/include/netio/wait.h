// Bounded waits on one socket that another thread can cut short.
#pragma once

#include <atomic>
#include <chrono>

namespace netio {

using Clock = std::chrono::steady_clock;

// Milliseconds from now to `deadline` for poll and epoll_wait: at least 0,
// at most INT_MAX, rounded up so a wait never ends just before it.
int MillisUntil(Clock::time_point deadline);

// What ends a wait early: a wake event's descriptor becoming readable
// (wake_fd < 0: none) or a flag being set (null: none; it is looked at
// every 100 ms).
struct Interrupt {
  int wake_fd = -1;
  const std::atomic<bool>* flag = nullptr;
};

enum class WaitResult { kReady, kWoken, kTimeout, kError };

// Waits until `fd` has `events` (POLLIN/POLLOUT; an error or hang-up counts
// as ready), the wait is interrupted or the deadline passes.
WaitResult WaitFor(int fd, short events, Clock::time_point deadline, Interrupt interrupt = {});

}  // namespace netio
