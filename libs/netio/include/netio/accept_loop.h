// A listening socket and the thread that takes its connections, for servers
// that serve each connection on a thread of its own.
#pragma once

#include <cstdint>
#include <functional>

#include "netio/fd.h"
#include "netio/listen_loop.h"

namespace netio {

class AcceptLoop {
 public:
  // Gets each accepted connection, on the loop's thread.
  using OnConnection = std::function<void(Fd)>;
  // Runs on the loop's thread before each connection is taken and at least
  // every 100 ms (to reap finished connections).
  using OnRound = std::function<void()>;

  // Listens on address:port (port 0: the system picks) and starts the
  // thread; false when it runs already or the socket cannot listen.
  bool Start(uint32_t address, uint16_t port, OnConnection on_connection, OnRound on_round = {});
  // Joins the thread and closes the listening socket; connections handed
  // out are their owner's to end.
  void Stop() { loop_.Stop(); }
  bool running() const { return loop_.running(); }
  // The port listened on, 0 before Start.
  uint16_t port() const { return loop_.port(); }

 private:
  void Run();

  OnConnection on_connection_;
  OnRound on_round_;
  ListenLoop loop_;  // last: stopped before the rest goes
};

}  // namespace netio
