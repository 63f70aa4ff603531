// Readiness in the loops' own words, one-off waits on a few sockets, and
// bounded waits on one socket that another thread can cut short.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "netio/fd.h"

namespace netio {

// What a socket is watched for, and what it reports.
struct Events {
  static constexpr uint32_t kReadable = 1;
  static constexpr uint32_t kWritable = 2;
  // Reported whether asked for or not: the socket failed, or the peer hung
  // up (a read tells the rest).
  static constexpr uint32_t kError = 4;
  static constexpr uint32_t kHangUp = 8;
};

// One socket of a PollOnce: what is wanted of it, and what it reported.
struct PollItem {
  Socket socket = kNoSocket;
  uint32_t wanted = 0;
  uint32_t ready = 0;
};

// Waits up to timeout_ms (negative: no limit) until one of `items` is ready
// and fills in `ready` of each; items holding kNoSocket are left out. Answers
// how many are ready: 0 after the time-out or an interruption by a signal,
// -1 when the wait failed (a socket that is not open included).
int PollOnce(PollItem* items, size_t count, int timeout_ms);

using Clock = std::chrono::steady_clock;

// Milliseconds from now to `deadline` for a poller's wait: at least 0,
// at most INT_MAX, rounded up so a wait never ends just before it.
int MillisUntil(Clock::time_point deadline);

// What ends a wait early: a wake event's descriptor becoming readable
// (wake_fd < 0: none) or a flag being set (null: none; it is looked at
// every 100 ms).
struct Interrupt {
  Socket wake_fd = kNoSocket;
  const std::atomic<bool>* flag = nullptr;
};

enum class WaitResult { kReady, kWoken, kTimeout, kError };

// Waits until `fd` has `events` (Events bits; an error or hang-up counts as
// ready), the wait is interrupted or the deadline passes.
WaitResult WaitFor(Socket fd, uint32_t events, Clock::time_point deadline,
                   Interrupt interrupt = {});

}  // namespace netio
