#include "search_responder.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace octc::device {

SearchResponder::~SearchResponder() {
  Stop();
}

bool SearchResponder::Start(const std::string& address, uint16_t port) {
  m_fd = net::BindUdp(address, port, &m_port, true);
  if (!m_fd.valid()) return false;
  m_stop = false;
  m_thread = std::thread([this] { Main(); });
  return true;
}

void SearchResponder::Stop() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  m_fd.Reset();
}

void SearchResponder::Main() {
  std::vector<uint8_t> buf(wire::kMaxDatagram + wire::kHeaderSize);
  while (!m_stop) {
    pollfd p{m_fd.get(), POLLIN, 0};
    if (::poll(&p, 1, 50) != 1) continue;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(m_fd.get(), buf.data(), buf.size(), MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&from), &len);
    if (n < static_cast<ssize_t>(wire::kHeaderSize)) continue;
    wire::Header h;
    if (!wire::DecodeHeader(buf.data(), h) || h.type != wire::Type::kSearchProbe ||
        h.length != static_cast<size_t>(n) - wire::kHeaderSize)
      continue;
    wire::Reader r(buf.data() + wire::kHeaderSize, h.length);
    uint16_t version = r.U16();
    if (!r.AtEnd() || version < wire::kMinVersion) continue;
    wire::Writer w;
    wire::WriteSearchAnswer(w, m_source());
    std::vector<uint8_t> msg = wire::BuildMessage(wire::Type::kSearchAnswer, 0, h.seq, w.data());
    if (msg.size() > buf.size()) continue;
    ::sendto(m_fd.get(), msg.data(), msg.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&from),
             len);
  }
}

}  // namespace octc::device
