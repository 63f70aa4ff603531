// Readiness of sockets in the loops' own words, and the poller that waits
// for it. One interface with a backend per platform, chosen by the build:
// epoll on Linux, WSAPoll on Windows.
#pragma once

#include <cstdint>
#include <memory>

#include "netio/fd.h"
#include "netio/wait.h"

namespace netio {

struct Readiness {
  uint64_t key = 0;     // as given to Watch
  uint32_t events = 0;  // Events bits
};

class Poller {
 public:
  virtual ~Poller() = default;

  // False when the system refused what the poller needs; nothing works then.
  virtual bool valid() const = 0;
  // Watches `socket` for `events` (replacing what it was watched for), its
  // readiness reported with `key`. Any thread; the calls for one socket are
  // serialised by the caller.
  virtual bool Watch(Socket socket, uint64_t key, uint32_t events) = 0;
  // Stops watching `socket`; readiness not yet handed out for it is dropped.
  // Call before the socket is closed.
  virtual void Unwatch(Socket socket) = 0;
  // Waits up to timeout_ms (negative: no limit) until a watched socket is
  // ready or Wake is called, and fills at most `max` entries of `out`.
  // Answers the count (0 after a time-out or a wake), or -1 when the wait
  // itself failed.
  virtual int Wait(Readiness* out, int max, int timeout_ms) = 0;
  // Ends the current or the next Wait early; any thread.
  virtual void Wake() = 0;
};

// The platform's poller.
std::unique_ptr<Poller> MakePoller();

}  // namespace netio
