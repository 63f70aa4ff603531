// A device's registration in the directory service.

#include "frame.h"
#include "messages.h"
#include "netio/address.h"
#include "netio/socket.h"
#include "qvc/device/directory.h"

namespace qvc::device {

bool DirectoryRegistration::Register(const std::string& directory_address, uint16_t directory_port,
                                     const DirectoryEntry& entry, int timeout_ms) {
  Unregister();
  uint32_t address = 0;
  if (!netio::ParseAddress(directory_address.c_str(), &address)) return false;
  wire::DirRegister reg;
  reg.group = entry.group;
  reg.number = entry.number;
  reg.port = entry.port;
  reg.channel_count = entry.channel_count;
  if (!entry.address.empty() && !netio::ParseAddress(entry.address.c_str(), &reg.address)) {
    return false;
  }
  auto deadline = netio::Clock::now() + std::chrono::milliseconds(timeout_ms);
  netio::Fd fd;
  std::string error;
  if (netio::ConnectTcp(address, directory_port, netio::kAnyAddress, deadline, {}, timeout_ms, &fd,
                        &error) != netio::ConnectResult::kOk) {
    return false;
  }
  std::vector<uint8_t> payload = wire::Encode(reg);
  std::vector<uint8_t> frame =
      wire::EncodeFrame(wire::MsgType::kDirRegister, payload.data(), payload.size());
  if (!netio::SendAll(fd.get(), frame.data(), frame.size())) return false;
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
      fd_ = std::move(fd);
      return true;
    }
    if (netio::WaitFor(fd.get(), netio::Events::kReadable, deadline) != netio::WaitResult::kReady)
      return false;
    uint8_t buf[64];
    size_t got = 0;
    netio::Received received = netio::ReceiveNow(fd.get(), buf, sizeof buf, &got);
    if (received == netio::Received::kEnded || received == netio::Received::kFailed) return false;
    if (received == netio::Received::kData) parser.Feed(buf, got);
  }
}

}  // namespace qvc::device
