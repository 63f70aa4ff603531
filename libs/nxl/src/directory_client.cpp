// Directory look-up over the link framing.
#include "directory_client.h"

#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

namespace qvc {

DirectoryQuery::State DirectoryQuery::Fail(std::string text) {
  error_ = std::move(text);
  fd_.Reset();
  return State::kFailed;
}

DirectoryQuery::State DirectoryQuery::Begin(const Settings& settings, const std::string& group,
                                            int32_t number) {
  group_ = group;
  number_ = number;
  std::string why;
  switch (net::StartConnect(settings.directory_address, htons(settings.directory_port),
                            settings.local_address, &fd_, &why)) {
    case net::ConnectResult::kOk: return SendLookup();
    case net::ConnectResult::kPending: connecting_ = true; return State::kPending;
    default: return Fail("directory service unreachable (" + why + ")");
  }
}

DirectoryQuery::State DirectoryQuery::SendLookup() {
  connecting_ = false;
  std::vector<uint8_t> payload = wire::Encode(wire::DirLookup{group_, number_});
  std::vector<uint8_t> frame =
      wire::EncodeFrame(wire::MsgType::kDirLookup, payload.data(), payload.size());
  // A few bytes on a fresh connection: they fit the socket buffer at once.
  if (!net::SendAll(fd_.get(), frame.data(), frame.size())) {
    return Fail("directory service: send failed");
  }
  return State::kPending;
}

DirectoryQuery::State DirectoryQuery::Progress() {
  if (!fd_.valid()) return State::kFailed;
  if (connecting_) {
    std::string why;
    if (net::FinishConnect(fd_.get(), &why) != net::ConnectResult::kOk) {
      return Fail("directory service unreachable (" + why + ")");
    }
    return SendLookup();
  }
  for (;;) {
    wire::Frame reply;
    switch (parser_.Next(&reply)) {
      case wire::FrameParser::Status::kFrame:
        if (reply.type != wire::MsgType::kDirAnswer || !wire::Decode(reply.payload, &answer_)) {
          return Fail("directory service: malformed answer");
        }
        fd_.Reset();
        return State::kAnswered;
      case wire::FrameParser::Status::kError: return Fail("directory service: " + parser_.error());
      case wire::FrameParser::Status::kNeedMore: break;
    }
    uint8_t buf[256];
    ssize_t n = ::recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return State::kPending;
      return Fail("directory service closed the connection");
    }
    parser_.Feed(buf, static_cast<size_t>(n));
  }
}

std::string DirectoryQuery::TimeoutText() const {
  return connecting_ ? "directory service unreachable (connect: timed out)"
                     : "directory service: no answer in time";
}

LookupResult LookupDevice(const Settings& settings, const std::string& group, int32_t number,
                          int wake_fd, net::Clock::time_point deadline, wire::DirAnswer* answer,
                          std::string* error) {
  DirectoryQuery query;
  DirectoryQuery::State state = query.Begin(settings, group, number);
  while (state == DirectoryQuery::State::kPending) {
    switch (net::WaitFor(query.fd(), query.connecting() ? POLLOUT : POLLIN, wake_fd, deadline)) {
      case net::WaitResult::kReady: state = query.Progress(); break;
      case net::WaitResult::kWoken: return LookupResult::kWoken;
      case net::WaitResult::kTimeout: *error = query.TimeoutText(); return LookupResult::kFailed;
      case net::WaitResult::kError:
        *error = "directory service: poll failed";
        return LookupResult::kFailed;
    }
  }
  if (state == DirectoryQuery::State::kFailed) {
    *error = query.error();
    return LookupResult::kFailed;
  }
  *answer = query.answer();
  return LookupResult::kAnswered;
}

}  // namespace qvc
