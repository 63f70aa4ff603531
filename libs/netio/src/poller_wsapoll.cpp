// The poller on Windows: WSAPoll over a copy of the watch set, taken at the
// start of each wait. A change from another thread wakes the wait so that
// the next one sees it; readiness of a socket unwatched meanwhile is dropped.
//
// WSAPoll of Windows before 10 (2004) does not report a connect that fails;
// such a connect ends by its own time limit instead.
#include <winsock2.h>

#include <mutex>
#include <unordered_map>
#include <vector>

#include "netio/poller.h"

namespace netio {
namespace {

SHORT ToPoll(uint32_t events) {
  return static_cast<SHORT>(((events & Events::kReadable) ? POLLRDNORM : 0) |
                            ((events & Events::kWritable) ? POLLWRNORM : 0));
}

uint32_t FromPoll(SHORT events) {
  return ((events & (POLLRDNORM | POLLRDBAND)) ? Events::kReadable : 0u) |
         ((events & POLLWRNORM) ? Events::kWritable : 0u) |
         ((events & (POLLERR | POLLNVAL)) ? Events::kError : 0u) |
         ((events & POLLHUP) ? Events::kHangUp : 0u);
}

class WsaPollPoller final : public Poller {
 public:
  bool valid() const override { return wake_.valid(); }

  bool Watch(Socket socket, uint64_t key, uint32_t events) override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      watched_[socket] = Watched{key, events};
    }
    wake_.Signal();
    return true;
  }

  void Unwatch(Socket socket) override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      watched_.erase(socket);
    }
    wake_.Signal();
  }

  int Wait(Readiness* out, int max, int timeout_ms) override {
    std::vector<WSAPOLLFD> fds;
    std::vector<uint64_t> keys;
    {
      std::lock_guard<std::mutex> lock(mu_);
      fds.reserve(watched_.size() + 1);
      fds.push_back(WSAPOLLFD{static_cast<SOCKET>(wake_.fd()), POLLRDNORM, 0});
      keys.push_back(0);
      for (const auto& [socket, watched] : watched_) {
        if (ToPoll(watched.events) == 0) continue;
        fds.push_back(WSAPOLLFD{static_cast<SOCKET>(socket), ToPoll(watched.events), 0});
        keys.push_back(watched.key);
      }
    }
    const int n =
        ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeout_ms < 0 ? -1 : timeout_ms);
    if (n == SOCKET_ERROR) return -1;
    if (fds[0].revents != 0) wake_.Clear();
    int count = 0;
    std::lock_guard<std::mutex> lock(mu_);
    for (std::size_t i = 1; i < fds.size() && count < max; ++i) {
      if (fds[i].revents == 0) continue;
      const auto it = watched_.find(static_cast<Socket>(fds[i].fd));
      if (it == watched_.end() || it->second.key != keys[i]) continue;  // unwatched meanwhile
      out[count++] = Readiness{keys[i], FromPoll(fds[i].revents)};
    }
    return count;
  }

  void Wake() override { wake_.Signal(); }

 private:
  struct Watched {
    uint64_t key;
    uint32_t events;
  };

  WakeEvent wake_;
  std::mutex mu_;
  std::unordered_map<Socket, Watched> watched_;  // guarded by mu_
};

}  // namespace

std::unique_ptr<Poller> MakePoller() {
  return std::make_unique<WsaPollPoller>();
}

}  // namespace netio
