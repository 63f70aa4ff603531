// A device's registration in the directory service.
#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "frame.h"
#include "messages.h"
#include "net.h"
#include "qvc/device/directory.h"

namespace qvc::device {

bool DirectoryRegistration::Register(const std::string& directory_address, uint16_t directory_port,
                                     const DirectoryEntry& entry, int timeout_ms) {
  Unregister();
  uint32_t address = 0;
  if (!net::ParseAddress(directory_address.c_str(), &address)) return false;
  wire::DirRegister reg;
  reg.group = entry.group;
  reg.number = entry.number;
  reg.port = entry.port;
  reg.channel_count = entry.channel_count;
  if (!entry.address.empty() && !net::ParseAddress(entry.address.c_str(), &reg.address)) {
    return false;
  }
  auto deadline = net::Clock::now() + std::chrono::milliseconds(timeout_ms);
  net::UniqueFd fd;
  std::string error;
  if (net::ConnectTcp(address, htons(directory_port), htonl(INADDR_ANY), -1, deadline, timeout_ms,
                      &fd, &error) != net::ConnectResult::kOk) {
    return false;
  }
  std::vector<uint8_t> payload = wire::Encode(reg);
  std::vector<uint8_t> frame =
      wire::EncodeFrame(wire::MsgType::kDirRegister, payload.data(), payload.size());
  if (!net::SendAll(fd.get(), frame.data(), frame.size())) return false;
  wire::FrameParser parser(16);
  for (;;) {
    wire::Frame reply;
    auto status = parser.Next(&reply);
    if (status == wire::FrameParser::Status::kError) return false;
    if (status == wire::FrameParser::Status::kFrame) {
      if (reply.type != wire::MsgType::kDirRegistered || reply.payload.size() != 1 ||
          reply.payload[0] != 0) {
        return false;
      }
      fd_ = fd.Release();
      return true;
    }
    if (net::WaitFor(fd.get(), POLLIN, -1, deadline) != net::WaitResult::kReady) return false;
    uint8_t buf[64];
    ssize_t n = ::recv(fd.get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
    if (n > 0) parser.Feed(buf, static_cast<size_t>(n));
  }
}

void DirectoryRegistration::Unregister() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace qvc::device
