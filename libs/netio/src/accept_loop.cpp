#include "netio/accept_loop.h"

#include "netio/socket.h"
#include "netio/wait.h"

namespace netio {
namespace {

constexpr int kRoundMs = 100;

}  // namespace

bool AcceptLoop::Start(uint32_t address, uint16_t port, OnConnection on_connection,
                       OnRound on_round) {
  if (running()) return false;
  on_connection_ = std::move(on_connection);
  on_round_ = std::move(on_round);
  return loop_.Start(address, port, [this] { Run(); });
}

void AcceptLoop::Run() {
  while (!loop_.stopping()) {
    PollItem items[2] = {{loop_.listen_fd(), Events::kReadable, 0},
                         {loop_.wake_fd(), Events::kReadable, 0}};
    const int n = PollOnce(items, 2, kRoundMs);
    if (on_round_) on_round_();
    if (n <= 0 || loop_.stopping() || !(items[0].ready & Events::kReadable)) continue;
    Fd fd = Accept(loop_.listen_fd());
    if (fd.valid()) on_connection_(std::move(fd));
  }
}

}  // namespace netio
