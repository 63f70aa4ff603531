// One loop thread serving many links: it waits on their sockets, runs
// tasks posted from other threads, and asks each link about its time limits
// whenever the earliest one it named has come.
//
// Everything a handler is told happens on the loop's thread, one call at a
// time, so a link's callbacks keep their order and never run on two threads
// at once; a handler that is slow delays the other handlers of this loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "netio/poller.h"
#include "netio/wait.h"

namespace qvc {

class EventLoop {
 public:
  class Handler {
   public:
    virtual ~Handler() = default;
    // The handler's socket reported these netio::Events.
    virtual void OnEvents(uint32_t events) = 0;
    // Checks the time limits at `now`; answers when to be asked next.
    virtual netio::Clock::time_point OnTimer(netio::Clock::time_point now) = 0;
    // The loop ends (library release): end without any report.
    virtual void Abandon() = 0;
  };

  EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  bool valid() const { return poller_ && poller_->valid(); }
  // The thread body: runs until Stop, then abandons every handler left.
  void Run();
  // Asks the loop to end; any thread.
  void Stop();
  // Runs `task` on the loop thread; false once the loop has ended (the task
  // is dropped). Posted from the loop thread itself, it runs after the
  // current wake-up's events without waking the loop.
  bool Post(std::function<void()> task);
  // Loop thread only: the time the current wake-up began, for time limits
  // (one clock read per wake-up, however many links it serves).
  netio::Clock::time_point now() const { return now_; }
  // Handlers attached or about to be (chooses the least busy loop).
  std::atomic<int>& load() { return load_; }

  // Loop thread only. Attach keeps the handler alive until Detach and gives
  // it the key its socket events carry.
  uint64_t Attach(std::shared_ptr<Handler> handler);
  void Detach(uint64_t key);
  // Asks for an OnTimer round no later than `when`.
  void WakeAt(netio::Clock::time_point when);

  // Any thread: add or change, or remove, the watch of a socket for
  // netio::Events (callers serialise the calls for one socket).
  bool Watch(netio::Socket fd, uint64_t key, uint32_t events);
  void Unwatch(netio::Socket fd);

 private:
  void RunTasks();
  void TimerRound(netio::Clock::time_point now);

  std::unique_ptr<netio::Poller> poller_;
  std::atomic<int> load_{0};
  std::atomic<bool> stopping_{false};

  std::mutex tasks_mu_;
  std::vector<std::function<void()>> tasks_;  // guarded by tasks_mu_
  bool ended_ = false;                        // guarded by tasks_mu_

  // Loop thread only.
  std::unordered_map<uint64_t, std::shared_ptr<Handler>> handlers_;
  std::vector<uint64_t> detached_;
  uint64_t next_key_ = 1;
  netio::Clock::time_point now_ = netio::Clock::now();
  bool posted_here_ = false;  // a task was posted by the loop thread
  netio::Clock::time_point next_round_ = netio::Clock::time_point::max();
  netio::Clock::time_point last_round_{};
};

}  // namespace qvc
