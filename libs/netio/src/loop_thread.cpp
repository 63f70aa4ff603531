#include "netio/loop_thread.h"

namespace netio {

bool LoopThread::Start(std::function<void()> body) {
  if (thread_.joinable() || !wake_.valid()) return false;
  stopping_.store(false);
  thread_ = std::thread(std::move(body));
  return true;
}

void LoopThread::Stop() {
  if (!thread_.joinable()) return;
  stopping_.store(true);
  wake_.Signal();
  thread_.join();
}

}  // namespace netio
