// Answers search probes for one device engine on its own thread.
#pragma once

#include <functional>
#include <string>

#include "messages.h"
#include "netio/datagram_loop.h"

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
  void Answer(int fd, const uint8_t* data, size_t size, const netio::Endpoint& from);
  AnswerSource m_source;
  uint16_t m_port = 0;
  netio::DatagramLoop m_loop;
};

}  // namespace octc::device
