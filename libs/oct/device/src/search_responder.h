// Answers search probes for one device engine on its own thread.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "messages.h"
#include "socket.h"

namespace octc::device {

class SearchResponder {
 public:
  using AnswerSource = std::function<wire::SearchAnswerData()>;
  explicit SearchResponder(AnswerSource source) : m_source(std::move(source)) {}
  ~SearchResponder();
  SearchResponder(const SearchResponder&) = delete;
  SearchResponder& operator=(const SearchResponder&) = delete;
  bool Start(const std::string& address, uint16_t port);
  void Stop();
  uint16_t port() const { return m_port; }

 private:
  void Main();
  AnswerSource m_source;
  net::Fd m_fd;
  uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace octc::device
