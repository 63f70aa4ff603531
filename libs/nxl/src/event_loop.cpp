// The loop of the client library, over the platform's poller.
#include "event_loop.h"

#include <algorithm>
#include <climits>

namespace qvc {
namespace {

constexpr int kEventsPerWait = 128;
// Time limits are checked at most this often, so a loop with hundreds of
// links does not scan them all on every keep-alive.
constexpr auto kTimerGrain = std::chrono::milliseconds(20);

// The loop the calling thread runs, if any.
thread_local const EventLoop* t_loop = nullptr;

// Milliseconds from `now` to `due` for the poller's wait, rounded up.
int MillisBetween(netio::Clock::time_point now, netio::Clock::time_point due) {
  if (due <= now) return 0;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
  return left >= INT_MAX ? INT_MAX : static_cast<int>(left);
}

}  // namespace

EventLoop::EventLoop() : poller_(netio::MakePoller()) {}

void EventLoop::Stop() {
  stopping_.store(true);
  poller_->Wake();
}

bool EventLoop::Post(std::function<void()> task) {
  {
    std::lock_guard lock(tasks_mu_);
    if (ended_) return false;
    tasks_.push_back(std::move(task));
  }
  if (t_loop == this) {
    posted_here_ = true;
  } else {
    poller_->Wake();
  }
  return true;
}

uint64_t EventLoop::Attach(std::shared_ptr<Handler> handler) {
  uint64_t key = next_key_++;
  handlers_.emplace(key, std::move(handler));
  return key;
}

// Dropped after the current batch of events, which may still name the key.
void EventLoop::Detach(uint64_t key) {
  detached_.push_back(key);
}

void EventLoop::WakeAt(netio::Clock::time_point when) {
  next_round_ = std::min(next_round_, when);
}

bool EventLoop::Watch(netio::Socket fd, uint64_t key, uint32_t events) {
  return poller_->Watch(fd, key, events);
}

void EventLoop::Unwatch(netio::Socket fd) {
  poller_->Unwatch(fd);
}

void EventLoop::RunTasks() {
  std::vector<std::function<void()>> tasks;
  {
    std::lock_guard lock(tasks_mu_);
    tasks.swap(tasks_);
  }
  for (auto& task : tasks) task();
}

void EventLoop::TimerRound(netio::Clock::time_point now) {
  last_round_ = now;
  next_round_ = netio::Clock::time_point::max();
  // Handlers are only attached by tasks and detached after the round, so
  // the map does not change while it is walked.
  for (const auto& [key, handler] : handlers_) {
    next_round_ = std::min(next_round_, handler->OnTimer(now));
  }
}

void EventLoop::Run() {
  t_loop = this;
  netio::Readiness events[kEventsPerWait];
  while (!stopping_.load()) {
    auto due = std::max(next_round_, last_round_ + kTimerGrain);
    // The timeout counts from the start of the last wake-up: a round comes
    // late by at most the time that wake-up took.
    int timeout = posted_here_                                     ? 0
                  : next_round_ == netio::Clock::time_point::max() ? -1
                                                                   : MillisBetween(now_, due);
    const int n = poller_->Wait(events, kEventsPerWait, timeout);
    if (n < 0) break;
    now_ = netio::Clock::now();
    for (int i = 0; i < n && !stopping_.load(); ++i) {
      auto it = handlers_.find(events[i].key);
      if (it == handlers_.end()) continue;
      std::shared_ptr<Handler> handler = it->second;
      handler->OnEvents(events[i].events);
    }
    if (stopping_.load()) break;
    posted_here_ = false;
    RunTasks();
    if (now_ >= due) TimerRound(now_);
    for (uint64_t key : detached_) handlers_.erase(key);
    detached_.clear();
  }
  // Tasks posted before the end still run (a link started there is then
  // abandoned with the others); later ones are refused.
  {
    std::lock_guard lock(tasks_mu_);
    ended_ = true;
  }
  RunTasks();
  auto handlers = std::move(handlers_);
  handlers_.clear();
  for (auto& [key, handler] : handlers) handler->Abandon();
}

}  // namespace qvc
