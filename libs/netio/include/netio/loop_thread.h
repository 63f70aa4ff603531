// The thread of a poll loop, with the stop flag and the wake event that end
// it from another thread: the loop runs while !stopping() and includes
// wake_fd() in its waits.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "netio/fd.h"

namespace netio {

class LoopThread {
 public:
  ~LoopThread() { Stop(); }

  // Starts `body` on the thread; false when it runs already or the wake
  // event could not be made.
  bool Start(std::function<void()> body);
  // Sets the flag, wakes the loop and joins the thread; nothing when it does
  // not run. Not from the loop's own thread.
  void Stop();
  bool running() const { return thread_.joinable(); }
  bool stopping() const { return stopping_.load(); }
  Socket wake_fd() const { return wake_.fd(); }
  // Empties the wake event once the loop has seen it readable.
  void ClearWake() { wake_.Clear(); }
  // Makes the loop's wait end now (the loop goes on unless stopping).
  void Wake() { wake_.Signal(); }

 private:
  WakeEvent wake_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace netio
