#include "netio/datagram_loop.h"

#include <errno.h>
#include <poll.h>

#include "netio/socket.h"
#include "netio/wait.h"

namespace netio {

bool DatagramLoop::Start(std::vector<Fd> sockets, size_t max_size, OnDatagram on_datagram) {
  if (running()) return false;
  sockets_ = std::move(sockets);
  max_size_ = max_size;
  on_datagram_ = std::move(on_datagram);
  if (thread_.Start([this] { Run(); })) return true;
  sockets_.clear();
  return false;
}

void DatagramLoop::Stop() {
  thread_.Stop();
  sockets_.clear();
}

bool DatagramLoop::Pause(int ms) {
  if (ms <= 0) return !thread_.stopping();
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!thread_.stopping() && Clock::now() < until) {
    pollfd fd{thread_.wake_fd(), POLLIN, 0};
    ::poll(&fd, 1, MillisUntil(until));
  }
  return !thread_.stopping();
}

void DatagramLoop::Run() {
  std::vector<uint8_t> buffer(max_size_);
  std::vector<pollfd> fds;
  fds.push_back({thread_.wake_fd(), POLLIN, 0});
  for (const Fd& socket : sockets_) fds.push_back({socket.get(), POLLIN, 0});
  while (!thread_.stopping()) {
    int n = ::poll(fds.data(), fds.size(), -1);
    if (n < 0 && errno != EINTR) return;
    if (fds[0].revents & POLLIN) thread_.ClearWake();
    for (size_t i = 1; i < fds.size() && !thread_.stopping(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      Endpoint from;
      ssize_t got = ReceiveDatagram(fds[i].fd, buffer.data(), buffer.size(), &from);
      if (got > 0) on_datagram_(fds[i].fd, buffer.data(), static_cast<size_t>(got), from);
    }
  }
}

}  // namespace netio
