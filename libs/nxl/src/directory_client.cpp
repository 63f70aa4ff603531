// Directory look-up over the link framing.
#include "directory_client.h"

#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include "frame.h"

namespace qvc {

LookupResult LookupDevice(const Settings& settings, const std::string& group, int32_t number,
                          int wake_fd, net::Clock::time_point deadline, wire::DirAnswer* answer,
                          std::string* error) {
  net::UniqueFd fd;
  std::string why;
  int send_ms = net::MillisUntil(deadline) + 1;
  switch (net::ConnectTcp(settings.directory_address, htons(settings.directory_port),
                          settings.local_address, wake_fd, deadline, send_ms, &fd, &why)) {
    case net::ConnectResult::kOk:
      break;
    case net::ConnectResult::kWoken:
      return LookupResult::kWoken;
    default:
      *error = "directory service unreachable (" + why + ")";
      return LookupResult::kFailed;
  }
  wire::DirLookup lookup{group, number};
  std::vector<uint8_t> payload = wire::Encode(lookup);
  std::vector<uint8_t> frame =
      wire::EncodeFrame(wire::MsgType::kDirLookup, payload.data(), payload.size());
  if (!net::SendAll(fd.get(), frame.data(), frame.size())) {
    *error = "directory service: send failed";
    return LookupResult::kFailed;
  }
  wire::FrameParser parser(64);
  wire::Frame reply;
  for (;;) {
    switch (parser.Next(&reply)) {
      case wire::FrameParser::Status::kFrame:
        if (reply.type != wire::MsgType::kDirAnswer || !wire::Decode(reply.payload, answer)) {
          *error = "directory service: malformed answer";
          return LookupResult::kFailed;
        }
        return LookupResult::kAnswered;
      case wire::FrameParser::Status::kError:
        *error = "directory service: " + parser.error();
        return LookupResult::kFailed;
      case wire::FrameParser::Status::kNeedMore:
        break;
    }
    switch (net::WaitFor(fd.get(), POLLIN, wake_fd, deadline)) {
      case net::WaitResult::kReady:
        break;
      case net::WaitResult::kWoken:
        return LookupResult::kWoken;
      case net::WaitResult::kTimeout:
        *error = "directory service: no answer in time";
        return LookupResult::kFailed;
      case net::WaitResult::kError:
        *error = "directory service: poll failed";
        return LookupResult::kFailed;
    }
    uint8_t buf[256];
    ssize_t n = ::recv(fd.get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) {
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      *error = "directory service closed the connection";
      return LookupResult::kFailed;
    }
    parser.Feed(buf, static_cast<size_t>(n));
  }
}

}  // namespace qvc
