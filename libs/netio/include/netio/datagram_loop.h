// Bound UDP sockets and the thread that receives their datagrams and hands
// each to its owner, for services that answer probes and broadcasts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "netio/address.h"
#include "netio/fd.h"
#include "netio/loop_thread.h"

namespace netio {

class DatagramLoop {
 public:
  // The socket a datagram came in on, its bytes and its source; on the
  // loop's thread.
  using OnDatagram =
      std::function<void(Socket fd, const uint8_t* data, size_t size, const Endpoint& from)>;

  // Receives on `sockets` (invalid ones are skipped), handing on at most
  // max_size bytes of a datagram; false when it runs already.
  bool Start(std::vector<Fd> sockets, size_t max_size, OnDatagram on_datagram);
  // Joins the thread, then closes the sockets.
  void Stop();
  bool running() const { return thread_.running(); }
  // The socket at `index` of those given to Start; kNoSocket when none is
  // open.
  Socket socket(size_t index) const {
    return index < sockets_.size() ? sockets_[index].get() : kNoSocket;
  }
  // Waits `ms` on the loop's thread, ended early by Stop; false when the
  // loop is stopping.
  bool Pause(int ms);

 private:
  void Run();

  std::vector<Fd> sockets_;
  size_t max_size_ = 0;
  OnDatagram on_datagram_;
  LoopThread thread_;  // last: joined before the rest goes
};

}  // namespace netio
