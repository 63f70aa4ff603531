#include "thread_reaper.h"

#include <utility>

#include "decode_session.h"

namespace qvsp {

void ThreadReaper::Adopt(std::shared_ptr<DecodeSession> session) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sessions.push_back(std::move(session));
}

void ThreadReaper::JoinFinished() {
  std::vector<std::shared_ptr<DecodeSession>> finished;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
      if ((*it)->Finished() && !(*it)->OnOwnThread()) {
        finished.push_back(std::move(*it));
        it = m_sessions.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& session : finished) session->Join();
}

void ThreadReaper::JoinAll() {
  std::vector<std::shared_ptr<DecodeSession>> sessions;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    sessions.swap(m_sessions);
  }
  for (auto& session : sessions) {
    if (session->OnOwnThread()) {
      Adopt(std::move(session));
    } else {
      session->Join();
    }
  }
}

void Retire(std::shared_ptr<DecodeSession> session, ThreadReaper& reaper) {
  if (!session) return;
  session->Stop();
  if (session->OnOwnThread()) {
    reaper.Adopt(std::move(session));
  } else {
    session->Join();
  }
}

}  // namespace qvsp
