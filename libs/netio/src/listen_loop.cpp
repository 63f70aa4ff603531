#include "netio/listen_loop.h"

#include <string>

#include "netio/socket.h"

namespace netio {

bool ListenLoop::Start(uint32_t address, uint16_t port, std::function<void()> body) {
  if (running()) return false;
  std::string error;
  listen_ = ListenTcp(address, port, &error);
  if (!listen_.valid()) return false;
  SetNonBlocking(listen_.get());
  port_ = LocalPort(listen_.get());
  if (thread_.Start(std::move(body))) return true;
  listen_.Reset();
  return false;
}

void ListenLoop::Stop() {
  thread_.Stop();
  listen_.Reset();
}

}  // namespace netio
