// Decoder streams whose thread could not be waited for where they were
// closed: a stream closed (or its player released) from inside its own
// decoded-picture callback. Their threads end as soon as the callback
// returns; they are joined here later.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

namespace qvsp {

class DecodeSession;

class ThreadReaper {
 public:
  ThreadReaper() = default;
  ~ThreadReaper() { JoinAll(); }
  ThreadReaper(const ThreadReaper&) = delete;
  ThreadReaper& operator=(const ThreadReaper&) = delete;

  void Adopt(std::shared_ptr<DecodeSession> session);
  // Joins the streams whose thread has finished.
  void JoinFinished();
  // Joins every stream except one whose thread is the calling thread.
  void JoinAll();

 private:
  std::mutex m_mutex;
  std::vector<std::shared_ptr<DecodeSession>> m_sessions;
};

// Stops the stream and waits for its thread, or hands it to the reaper when
// called on that very thread.
void Retire(std::shared_ptr<DecodeSession> session, ThreadReaper& reaper);

}  // namespace qvsp
