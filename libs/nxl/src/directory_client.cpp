// Directory look-up over the link framing.
#include "directory_client.h"

#include "netio/socket.h"

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
  switch (netio::StartConnect(settings.directory_address, settings.directory_port,
                              settings.local_address, &fd_, &why)) {
    case netio::ConnectResult::kOk: return SendLookup();
    case netio::ConnectResult::kPending: connecting_ = true; return State::kPending;
    default: return Fail("directory service unreachable (" + why + ")");
  }
}

DirectoryQuery::State DirectoryQuery::SendLookup() {
  connecting_ = false;
  std::vector<uint8_t> payload = wire::Encode(wire::DirLookup{group_, number_});
  std::vector<uint8_t> frame =
      wire::EncodeFrame(wire::MsgType::kDirLookup, payload.data(), payload.size());
  // A few bytes on a fresh connection: they fit the socket buffer at once.
  if (!netio::SendAll(fd_.get(), frame.data(), frame.size())) {
    return Fail("directory service: send failed");
  }
  return State::kPending;
}

DirectoryQuery::State DirectoryQuery::Progress() {
  if (!fd_.valid()) return State::kFailed;
  if (connecting_) {
    std::string why;
    if (netio::FinishConnect(fd_.get(), &why) != netio::ConnectResult::kOk) {
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
    size_t n = 0;
    switch (netio::ReceiveNow(fd_.get(), buf, sizeof buf, &n)) {
      case netio::Received::kData: parser_.Feed(buf, n); break;
      case netio::Received::kNothing: return State::kPending;
      case netio::Received::kEnded:
      case netio::Received::kFailed: return Fail("directory service closed the connection");
    }
  }
}

std::string DirectoryQuery::TimeoutText() const {
  return connecting_ ? "directory service unreachable (connect: timed out)"
                     : "directory service: no answer in time";
}

LookupResult LookupDevice(const Settings& settings, const std::string& group, int32_t number,
                          int wake_fd, netio::Clock::time_point deadline, wire::DirAnswer* answer,
                          std::string* error) {
  DirectoryQuery query;
  DirectoryQuery::State state = query.Begin(settings, group, number);
  while (state == DirectoryQuery::State::kPending) {
    switch (netio::WaitFor(query.fd(),
                           query.connecting() ? netio::Events::kWritable : netio::Events::kReadable,
                           deadline, {wake_fd})) {
      case netio::WaitResult::kReady: state = query.Progress(); break;
      case netio::WaitResult::kWoken: return LookupResult::kWoken;
      case netio::WaitResult::kTimeout: *error = query.TimeoutText(); return LookupResult::kFailed;
      case netio::WaitResult::kError:
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
