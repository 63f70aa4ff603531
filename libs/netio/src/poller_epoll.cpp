// The poller on Linux: epoll, with an eventfd for Wake.
#include <errno.h>
#include <sys/epoll.h>

#include "netio/poller.h"

namespace netio {
namespace {

// Key of the poller's own wake event; Watch keys are passed on shifted by
// one so that no key of a caller collides with it.
constexpr uint64_t kWakeKey = 0;

uint32_t ToEpoll(uint32_t events) {
  return ((events & Events::kReadable) ? EPOLLIN : 0u) |
         ((events & Events::kWritable) ? EPOLLOUT : 0u);
}

uint32_t FromEpoll(uint32_t events) {
  return ((events & EPOLLIN) ? Events::kReadable : 0u) |
         ((events & EPOLLOUT) ? Events::kWritable : 0u) |
         ((events & EPOLLERR) ? Events::kError : 0u) | ((events & EPOLLHUP) ? Events::kHangUp : 0u);
}

class EpollPoller final : public Poller {
 public:
  EpollPoller() : epoll_(::epoll_create1(EPOLL_CLOEXEC)) {
    if (!valid()) return;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeKey;
    ::epoll_ctl(static_cast<int>(epoll_.get()), EPOLL_CTL_ADD, static_cast<int>(wake_.fd()), &ev);
  }

  bool valid() const override { return epoll_.valid() && wake_.valid(); }

  bool Watch(Socket socket, uint64_t key, uint32_t events) override {
    epoll_event ev{};
    ev.events = ToEpoll(events);
    ev.data.u64 = key + 1;
    const int fd = static_cast<int>(socket);
    if (::epoll_ctl(static_cast<int>(epoll_.get()), EPOLL_CTL_MOD, fd, &ev) == 0) return true;
    return errno == ENOENT &&
           ::epoll_ctl(static_cast<int>(epoll_.get()), EPOLL_CTL_ADD, fd, &ev) == 0;
  }

  void Unwatch(Socket socket) override {
    ::epoll_ctl(static_cast<int>(epoll_.get()), EPOLL_CTL_DEL, static_cast<int>(socket), nullptr);
  }

  int Wait(Readiness* out, int max, int timeout_ms) override {
    constexpr int kBatch = 128;
    epoll_event events[kBatch];
    const int n = ::epoll_wait(static_cast<int>(epoll_.get()), events, max < kBatch ? max : kBatch,
                               timeout_ms < 0 ? -1 : timeout_ms);
    if (n < 0) return errno == EINTR ? 0 : -1;
    int count = 0;
    for (int i = 0; i < n; ++i) {
      if (events[i].data.u64 == kWakeKey) {
        wake_.Clear();
        continue;
      }
      out[count++] = Readiness{events[i].data.u64 - 1, FromEpoll(events[i].events)};
    }
    return count;
  }

  void Wake() override { wake_.Signal(); }

 private:
  Fd epoll_;
  WakeEvent wake_;
};

}  // namespace

std::unique_ptr<Poller> MakePoller() {
  return std::make_unique<EpollPoller>();
}

}  // namespace netio
