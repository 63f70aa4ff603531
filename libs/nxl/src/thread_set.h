// Every thread the library starts, so that release can join all of them.
// A thread that ends its own work (a link reporting its end) is joined later
// by whoever reaps or releases; a thread never joins itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace qvc {

class ThreadSet {
 public:
  ThreadSet() = default;
  ~ThreadSet() { JoinAll(); }
  ThreadSet(const ThreadSet&) = delete;
  ThreadSet& operator=(const ThreadSet&) = delete;

  // Starts `body` on a new thread; the result names it for Join. 0 when the
  // thread could not be started.
  uint64_t Spawn(std::function<void()> body);
  // Waits for that thread to end. From the thread itself it returns at once.
  void Join(uint64_t id);
  // Joins the threads whose work has ended.
  void ReapFinished();
  // Joins every thread but the calling one, which is detached: it is about
  // to return into its own ending work.
  void JoinAll();
  // The id of the calling thread if the library started it, else 0.
  static uint64_t Current();

 private:
  struct Entry {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  std::mutex mu_;
  std::map<uint64_t, Entry> entries_;
  uint64_t next_id_ = 1;
};

}  // namespace qvc
