// The link thread: resolve, connect, log in, receive, report the end.
#include "link.h"

#include <arpa/inet.h>
#include <errno.h>
#include <openssl/crypto.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

#include "auth.h"
#include "byte_io.h"
#include "directory_client.h"
#include "messages.h"

namespace qvc {
namespace {

using wire::MsgType;
using Status = wire::FrameParser::Status;

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kMaxCloseText = 255;

// The texts of the four refusals the SDK tells apart.
const char* RefusalText(wire::Refusal reason) {
  switch (reason) {
    case wire::Refusal::kWrongPassword:
      return "Passwords is wrong";
    case wire::Refusal::kNoChannel:
      return "No Channel service!";
    case wire::Refusal::kConnectType:
      return "connect type invalid!";
    case wire::Refusal::kClientLimit:
      return "client count limit";
    case wire::Refusal::kVersion:
      return "protocol version not supported by the device";
    case wire::Refusal::kOther:
      break;
  }
  return nullptr;
}

// A device text made safe to hand on: cut at the first zero byte and at
// `limit` bytes.
std::string DeviceText(const uint8_t* data, size_t size, size_t limit) {
  size_t n = 0;
  while (n < size && n < limit && data[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(data), n);
}

}  // namespace

Link::Link(Library& library, LinkParams params)
    : library_(library), params_(std::move(params)), settings_(library.settings()) {}

Link::~Link() { OPENSSL_cleanse(params_.password.data(), params_.password.size()); }

void Link::RequestStop(Stop why) {
  Stop expected = Stop::kNone;
  stop_.compare_exchange_strong(expected, why);
  // A release overrides a disconnect: nothing is reported after release.
  if (why == Stop::kRelease) stop_.store(Stop::kRelease);
  wake_.Signal();
}

bool Link::Send(const std::vector<uint8_t>& frame) {
  std::lock_guard lock(send_mu_);
  if (!up_ || broken_ || stop_.load() != Stop::kNone) return false;
  return SendLocked(frame);
}

bool Link::SendLocked(const std::vector<uint8_t>& frame) {
  if (broken_ || !fd_.valid()) return false;
  if (net::SendAll(fd_.get(), frame.data(), frame.size())) return true;
  // A partial or failed send leaves the stream unusable: break the link so
  // the receive loop reports it lost.
  broken_ = true;
  ::shutdown(fd_.get(), SHUT_RDWR);
  return false;
}

void Link::Report(uint8_t result, const std::string& text) {
  if (!library_.active()) return;
  if (auto cb = library_.callbacks().on_connect.load()) cb(params_.link_id, result, text.c_str());
}

void Link::Run() {
  Outcome outcome = Session();
  {
    std::lock_guard lock(send_mu_);
    if (up_ && !broken_ && fd_.valid() && stop_.load() == Stop::kDisconnect) {
      std::vector<uint8_t> bye = wire::EncodeFrame(MsgType::kBye, nullptr, 0);
      SendLocked(bye);
    }
    up_ = false;
    if (fd_.valid()) ::shutdown(fd_.get(), SHUT_RDWR);
  }
  library_.ForgetLink(params_.link_id, this);
  switch (stop_.load()) {
    case Stop::kRelease:
      return;
    case Stop::kDisconnect:
      Report(QVC_CONNECT_DISCONNECTED, "");
      return;
    case Stop::kNone:
      Report(outcome.result, outcome.text);
      return;
  }
}

Link::Outcome Link::Session() {
  Outcome failure{QVC_CONNECT_FAILED, ""};
  if (!wake_.valid()) return {QVC_CONNECT_FAILED, "out of resources"};
  if (!Resolve(&failure)) return failure;
  if (!Handshake(&failure)) return failure;
  return Receive();
}

bool Link::Resolve(Outcome* failure) {
  auto deadline = net::Clock::now() + std::chrono::milliseconds(settings_.connect_timeout_ms);
  uint32_t address = params_.address;
  uint16_t port = params_.port;
  if (params_.by_number) {
    wire::DirAnswer answer;
    std::string error;
    switch (LookupDevice(settings_, params_.group, params_.number, wake_.fd(), deadline, &answer,
                         &error)) {
      case LookupResult::kWoken:
        return false;
      case LookupResult::kFailed:
        failure->text = error;
        return false;
      case LookupResult::kAnswered:
        break;
    }
    if (!answer.found) {
      failure->text = "device is offline";
      return false;
    }
    address = answer.address;
    port = answer.port;
  }
  std::string error;
  net::UniqueFd fd;
  net::ConnectResult result =
      net::ConnectTcp(address, htons(port), settings_.local_address, wake_.fd(), deadline,
                      settings_.connect_timeout_ms, &fd, &error);
  switch (result) {
    case net::ConnectResult::kOk:
      break;
    case net::ConnectResult::kRefused:
      failure->text = "connection refused";
      return false;
    case net::ConnectResult::kTimeout:
      failure->text = "connection timed out";
      return false;
    case net::ConnectResult::kWoken:
      return false;
    case net::ConnectResult::kError:
      failure->text = error;
      return false;
  }
  std::lock_guard lock(send_mu_);
  fd_ = std::move(fd);
  return true;
}

Link::Read Link::ReadFrame(wire::Frame* frame, net::Clock::time_point deadline,
                           std::string* error) {
  uint8_t buf[kReadChunk];
  for (;;) {
    if (stop_.load() != Stop::kNone) return Read::kStopped;
    switch (parser_.Next(frame)) {
      case Status::kFrame:
        return Read::kFrame;
      case Status::kError:
        *error = "malformed message (" + parser_.error() + ")";
        return Read::kFailed;
      case Status::kNeedMore:
        break;
    }
    switch (net::WaitFor(fd_.get(), POLLIN, wake_.fd(), deadline)) {
      case net::WaitResult::kReady:
        break;
      case net::WaitResult::kWoken:
        return Read::kStopped;
      case net::WaitResult::kTimeout:
        return Read::kTimeout;
      case net::WaitResult::kError:
        *error = "poll failed";
        return Read::kFailed;
    }
    ssize_t n = ::recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0) {
      *error = "connection closed without notice";
      return Read::kFailed;
    }
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      *error = "connection broken";
      return Read::kFailed;
    }
    last_receive_ = net::Clock::now();
    parser_.Feed(buf, static_cast<size_t>(n));
  }
}

bool Link::Handshake(Outcome* failure) {
  auto deadline = net::Clock::now() + std::chrono::milliseconds(settings_.connect_timeout_ms);
  std::vector<uint8_t> hello_payload = wire::Encode(wire::Hello{});
  {
    std::lock_guard lock(send_mu_);
    if (!SendLocked(
            wire::EncodeFrame(MsgType::kHello, hello_payload.data(), hello_payload.size()))) {
      failure->text = "login failed: send error";
      return false;
    }
  }
  // Expects kChallenge, then kLoginOk; a refusal may come instead of either.
  bool challenged = false;
  for (;;) {
    wire::Frame frame;
    std::string error;
    switch (ReadFrame(&frame, deadline, &error)) {
      case Read::kFrame:
        break;
      case Read::kStopped:
        return false;
      case Read::kTimeout:
        failure->text = "login timed out";
        return false;
      case Read::kFailed:
        failure->text = "login failed: " + error;
        return false;
    }
    if (frame.type == MsgType::kPing) {
      std::lock_guard lock(send_mu_);
      SendLocked(wire::EncodeFrame(MsgType::kPong, nullptr, 0));
      continue;
    }
    if (frame.type == MsgType::kPong) continue;
    if (frame.type == MsgType::kLoginRefused) {
      wire::LoginRefused refused;
      if (!wire::Decode(frame.payload, &refused)) {
        failure->text = "login failed: malformed refusal";
        return false;
      }
      const char* known = RefusalText(refused.reason);
      failure->text = known ? known
                            : "refused by the device: " +
                                  DeviceText(reinterpret_cast<const uint8_t*>(refused.text.data()),
                                             refused.text.size(), wire::kMaxRefusalText);
      return false;
    }
    if (frame.type == MsgType::kClose) {
      failure->text = "login failed: the device closed the link";
      return false;
    }
    if (!challenged && frame.type == MsgType::kChallenge) {
      wire::Challenge challenge;
      if (!wire::Decode(frame.payload, &challenge) || challenge.version != wire::kProtocolVersion) {
        failure->text = "login failed: malformed challenge";
        return false;
      }
      wire::Login login;
      login.device_channel = params_.device_channel;
      login.connect_type = params_.connect_type;
      login.user = params_.user.substr(0, wire::kMaxUserName);
      if (!wire::ComputeDigest(challenge.nonce, login.user, params_.password, &login.digest)) {
        failure->text = "login failed: digest error";
        return false;
      }
      std::vector<uint8_t> payload = wire::Encode(login);
      std::lock_guard lock(send_mu_);
      if (!SendLocked(wire::EncodeFrame(MsgType::kLogin, payload.data(), payload.size()))) {
        failure->text = "login failed: send error";
        return false;
      }
      challenged = true;
      continue;
    }
    if (challenged && frame.type == MsgType::kLoginOk) {
      if (frame.payload.size() > wire::kMaxGreeting) {
        failure->text = "login failed: malformed greeting";
        return false;
      }
      {
        std::lock_guard lock(send_mu_);
        up_ = true;
      }
      Report(QVC_CONNECT_OK,
             DeviceText(frame.payload.data(), frame.payload.size(), wire::kMaxGreeting));
      return true;
    }
    failure->text = "login failed: unexpected message";
    return false;
  }
}

Link::Outcome Link::Receive() {
  const auto ping_every = std::chrono::milliseconds(settings_.ping_interval_ms);
  const auto silence = std::chrono::milliseconds(settings_.silence_timeout_ms);
  auto next_ping = net::Clock::now() + ping_every;
  for (;;) {
    auto now = net::Clock::now();
    if (now >= next_ping) {
      std::lock_guard lock(send_mu_);
      SendLocked(wire::EncodeFrame(MsgType::kPing, nullptr, 0));
      next_ping = now + ping_every;
    }
    auto silent_at = last_receive_ + silence;
    if (now >= silent_at) return {QVC_CONNECT_LOST, "keep-alive time-out"};
    wire::Frame frame;
    std::string error;
    switch (ReadFrame(&frame, std::min(next_ping, silent_at), &error)) {
      case Read::kFrame: {
        Outcome end{QVC_CONNECT_LOST, ""};
        if (!Dispatch(frame, &end)) return end;
        break;
      }
      case Read::kStopped:
        return {QVC_CONNECT_DISCONNECTED, ""};
      case Read::kTimeout:
        break;
      case Read::kFailed:
        return {QVC_CONNECT_LOST, error};
    }
  }
}

bool Link::Dispatch(const wire::Frame& frame, Outcome* end) {
  Callbacks& cb = library_.callbacks();
  const int32_t id = params_.link_id;
  const uint8_t* p = frame.payload.data();
  const size_t size = frame.payload.size();
  const bool active = library_.active();
  auto malformed = [&] {
    end->result = QVC_CONNECT_LOST;
    end->text = "malformed message";
    return false;
  };
  switch (frame.type) {
    case MsgType::kPing: {
      std::lock_guard lock(send_mu_);
      SendLocked(wire::EncodeFrame(MsgType::kPong, nullptr, 0));
      return true;
    }
    case MsgType::kPong:
      return true;
    case MsgType::kClose:
      end->result = QVC_CONNECT_REMOTE_CLOSED;
      end->text = DeviceText(p, size, kMaxCloseText);
      return false;
    case MsgType::kLive:
    case MsgType::kPlayback: {
      if (size < 1) return malformed();
      auto fn = frame.type == MsgType::kLive ? cb.on_live.load() : cb.on_playback.load();
      if (fn && active) fn(id, p[0], p + 1, static_cast<int32_t>(size - 1));
      return true;
    }
    case MsgType::kFileList:
      if (auto fn = cb.on_file_list.load(); fn && active) {
        fn(id, p, static_cast<int32_t>(size));
      }
      return true;
    case MsgType::kTalk:
      if (size < 1) return malformed();
      if (auto fn = cb.on_talk.load(); fn && active) {
        fn(id, p[0], p + 1, static_cast<int32_t>(size - 1));
      }
      return true;
    case MsgType::kText:
      if (size < 1) return malformed();
      if (auto fn = cb.on_text.load(); fn && active) {
        fn(id, p[0], p + 1, static_cast<int32_t>(size - 1));
      }
      return true;
    case MsgType::kDownload:
      if (size < 5) return malformed();
      if (auto fn = cb.on_download.load(); fn && active) {
        fn(id, p[0], p + 5, static_cast<int32_t>(size - 5), wire::GetU32(p + 1));
      }
      return true;
    default:
      end->result = QVC_CONNECT_LOST;
      end->text = "unexpected message";
      return false;
  }
}

}  // namespace qvc
