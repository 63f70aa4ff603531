// Library thread bookkeeping.
#include "thread_set.h"

#include <system_error>
#include <vector>

namespace qvc {
namespace {
thread_local uint64_t t_current = 0;
}  // namespace

uint64_t ThreadSet::Current() {
  return t_current;
}

uint64_t ThreadSet::Spawn(std::function<void()> body) {
  std::lock_guard lock(mu_);
  uint64_t id = next_id_++;
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread([id, done, body = std::move(body)] {
      t_current = id;
      body();
      done->store(true);
    });
    entries_.emplace(id, Entry{std::move(thread), done});
  } catch (const std::system_error&) {
    return 0;
  }
  return id;
}

void ThreadSet::Join(uint64_t id) {
  if (id == 0 || id == t_current) return;
  std::thread thread;
  {
    std::lock_guard lock(mu_);
    auto it = entries_.find(id);
    if (it == entries_.end()) return;
    thread = std::move(it->second.thread);
    entries_.erase(it);
  }
  if (thread.joinable()) thread.join();
}

void ThreadSet::ReapFinished() {
  std::vector<std::thread> finished;
  {
    std::lock_guard lock(mu_);
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (it->first != t_current && it->second.done->load()) {
        finished.push_back(std::move(it->second.thread));
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& t : finished) t.join();
}

void ThreadSet::JoinAll() {
  for (;;) {
    std::thread thread;
    {
      std::lock_guard lock(mu_);
      if (entries_.empty()) return;
      auto it = entries_.begin();
      thread = std::move(it->second.thread);
      entries_.erase(it);
    }
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();
    } else if (thread.joinable()) {
      thread.join();
    }
  }
}

}  // namespace qvc
