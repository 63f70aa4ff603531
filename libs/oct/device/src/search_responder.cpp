#include "search_responder.h"

#include "netio/socket.h"

namespace octc::device {

SearchResponder::~SearchResponder() {
  Stop();
}

bool SearchResponder::Start(const std::string& address, uint16_t port) {
  uint32_t local = 0;
  std::string error;
  if (m_loop.running() || !netio::ResolveIpv4(address, &local)) return false;
  std::vector<netio::Fd> sockets;
  sockets.push_back(netio::BindUdp(local, port, true, &error));
  if (!sockets[0].valid()) return false;
  m_port = netio::LocalPort(sockets[0].get());
  auto answer = [this](int fd, const uint8_t* data, size_t size, const netio::Endpoint& from) {
    Answer(fd, data, size, from);
  };
  return m_loop.Start(std::move(sockets), wire::kMaxDatagram + wire::kHeaderSize, answer);
}

void SearchResponder::Stop() {
  m_loop.Stop();
}

void SearchResponder::Answer(int fd, const uint8_t* data, size_t size,
                             const netio::Endpoint& from) {
  if (size < wire::kHeaderSize) return;
  wire::Header h;
  if (!wire::DecodeHeader(data, h) || h.type != wire::Type::kSearchProbe ||
      h.length != size - wire::kHeaderSize)
    return;
  wire::Reader r(data + wire::kHeaderSize, h.length);
  uint16_t version = r.U16();
  if (!r.AtEnd() || version < wire::kMinVersion) return;
  wire::Writer w;
  wire::WriteSearchAnswer(w, m_source());
  std::vector<uint8_t> msg = wire::BuildMessage(wire::Type::kSearchAnswer, 0, h.seq, w.data());
  if (msg.size() > wire::kMaxDatagram + wire::kHeaderSize) return;
  netio::SendDatagram(fd, from, msg.data(), msg.size());
}

}  // namespace octc::device
