// A thread-safe log of callback reports with waits on it, and a polling wait for unreported state.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qcsdk::test {

// Multiplies a time-out by QCSDK_TEST_TIME_SCALE (default 1).
int ScaledMs(int ms);
inline std::chrono::milliseconds Scaled(int ms) {
  return std::chrono::milliseconds(ScaledMs(ms));
}

// Polls pred every pollMs until it holds or the scaled time-out passes.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 10000, int pollMs = 2) {
  const auto deadline = std::chrono::steady_clock::now() + Scaled(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
  return true;
}

template <class T>
class EventLog {
 public:
  // Which events count; an empty one takes every event.
  using Keep = std::function<bool(const T&)>;

  // Records the event, wakes the waiters, then runs the hook on the calling thread.
  void Add(T event) {
    std::function<void(const T&)> hook;
    {
      std::lock_guard lock(m_mutex);
      m_events.push_back(event);
      hook = m_hook;
    }
    m_changed.notify_all();
    if (hook) hook(event);
  }
  std::vector<T> Snapshot(const Keep& keep = {}) const {
    std::lock_guard lock(m_mutex);
    if (!keep) return m_events;
    std::vector<T> out;
    std::copy_if(m_events.begin(), m_events.end(), std::back_inserter(out), keep);
    return out;
  }
  size_t Count(const Keep& keep = {}) const {
    std::lock_guard lock(m_mutex);
    return CountIn(m_events, keep);
  }
  bool WaitFor(const std::function<bool(const std::vector<T>&)>& done,
               std::chrono::milliseconds timeout = Scaled(10000)) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return done(m_events); });
  }
  bool WaitCount(size_t n, const Keep& keep = {},
                 std::chrono::milliseconds timeout = Scaled(10000)) const {
    return WaitFor([&](const std::vector<T>& events) { return CountIn(events, keep) >= n; },
                   timeout);
  }
  void SetHook(std::function<void(const T&)> hook) {
    std::lock_guard lock(m_mutex);
    m_hook = std::move(hook);
  }

 private:
  static size_t CountIn(const std::vector<T>& events, const Keep& keep) {
    return keep ? static_cast<size_t>(std::count_if(events.begin(), events.end(), keep))
                : events.size();
  }

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<T> m_events;
  std::function<void(const T&)> m_hook;
};

}  // namespace qcsdk::test
