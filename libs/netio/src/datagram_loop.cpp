#include "netio/datagram_loop.h"

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
    PollItem wake{thread_.wake_fd(), Events::kReadable, 0};
    PollOnce(&wake, 1, MillisUntil(until));
  }
  return !thread_.stopping();
}

void DatagramLoop::Run() {
  std::vector<uint8_t> buffer(max_size_);
  std::vector<PollItem> items;
  items.push_back({thread_.wake_fd(), Events::kReadable, 0});
  for (const Fd& socket : sockets_) items.push_back({socket.get(), Events::kReadable, 0});
  while (!thread_.stopping()) {
    if (PollOnce(items.data(), items.size(), -1) < 0) return;
    if (items[0].ready & Events::kReadable) thread_.ClearWake();
    for (size_t i = 1; i < items.size() && !thread_.stopping(); ++i) {
      if (!(items[i].ready & Events::kReadable)) continue;
      Endpoint from;
      const std::ptrdiff_t got =
          ReceiveDatagram(items[i].socket, buffer.data(), buffer.size(), &from);
      if (got > 0) on_datagram_(items[i].socket, buffer.data(), static_cast<size_t>(got), from);
    }
  }
}

}  // namespace netio
