// A listening socket and the thread of the loop that serves it: the loop
// waits on listen_fd() (non-blocking) and wake_fd() and runs while
// !stopping().
#pragma once

#include <cstdint>
#include <functional>

#include "netio/fd.h"
#include "netio/loop_thread.h"

namespace netio {

class ListenLoop {
 public:
  // Listens on address:port (port 0: the system picks) and starts `body` on
  // the thread; false when it runs already or the socket cannot listen.
  bool Start(uint32_t address, uint16_t port, std::function<void()> body);
  // Joins the thread, then closes the listening socket.
  void Stop();
  bool running() const { return thread_.running(); }
  bool stopping() const { return thread_.stopping(); }
  // The port listened on, 0 before Start.
  uint16_t port() const { return port_; }
  Socket listen_fd() const { return listen_.get(); }
  Socket wake_fd() const { return thread_.wake_fd(); }
  void ClearWake() { thread_.ClearWake(); }

 private:
  Fd listen_;
  uint16_t port_ = 0;
  LoopThread thread_;  // last: joined before the rest goes
};

}  // namespace netio
