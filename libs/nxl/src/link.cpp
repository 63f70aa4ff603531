// A link on its event loop: look-up, connect, login, receive, report the end.
#include "link.h"

#include <digest/digest.h>

#include <algorithm>

#include "auth.h"
#include "byte_io.h"
#include "messages.h"
#include "netio/socket.h"

namespace qvc {
namespace {

using wire::MsgType;
using Status = wire::FrameParser::Status;
using netio::Clock;

// Each read asks for at least this much (more when a frame under way needs
// it); a wake-up reads at most kReadsPerWake times before other links run.
constexpr size_t kReadChunk = 64 * 1024;
constexpr int kReadsPerWake = 4;
constexpr size_t kMaxCloseText = 255;

// The texts of the refusals the SDK tells apart.
const char* RefusalText(wire::Refusal reason) {
  switch (reason) {
    case wire::Refusal::kWrongPassword: return "Passwords is wrong";
    case wire::Refusal::kNoChannel: return "No Channel service!";
    case wire::Refusal::kConnectType: return "connect type invalid!";
    case wire::Refusal::kClientLimit: return "client count limit";
    case wire::Refusal::kVersion: return "protocol version not supported by the device";
    case wire::Refusal::kOther: break;
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

Link::~Link() {
  digest::Wipe(params_.password.data(), params_.password.size());
}

bool Link::Start(std::shared_ptr<EventLoop> loop) {
  loop_ = std::move(loop);
  return loop_->Post([self = shared_from_this()] { self->Begin(); });
}

void Link::RequestStop(Stop why) {
  Stop expected = Stop::kNone;
  stop_.compare_exchange_strong(expected, why);
  // A release overrides a disconnect: nothing is reported after release.
  if (why == Stop::kRelease) stop_.store(Stop::kRelease);
  // When the loop has ended it has abandoned the link already.
  loop_->Post([self = shared_from_this()] { self->End({QVC_CONNECT_DISCONNECTED, ""}); });
}

void Link::WaitEnded() {
  std::unique_lock lock(send_mu_);
  ended_cv_.wait(lock, [this] { return ended_; });
}

void Link::Report(uint8_t result, const std::string& text) {
  if (!library_.active()) return;
  if (auto cb = library_.callbacks().on_connect.load()) cb(params_.link_id, result, text.c_str());
}

// ---- sending ---------------------------------------------------------------

void Link::QueueLocked(const std::vector<uint8_t>& frame) {
  out_.push_back(frame);
  queued_ += frame.size();
}

void Link::FlushLocked() {
  while (!out_.empty() && !broken_) {
    const std::vector<uint8_t>& front = out_.front();
    size_t n = 0;
    const netio::Sent sent =
        netio::SendNow(fd_.get(), front.data() + out_offset_, front.size() - out_offset_, &n);
    if (sent == netio::Sent::kWouldBlock) break;
    if (sent == netio::Sent::kFailed) {
      BreakLocked();
      break;
    }
    out_offset_ += n;
    queued_ -= n;
    if (out_offset_ == front.size()) {
      out_.pop_front();
      out_offset_ = 0;
    }
  }
  WatchLocked();
}

// A failed or stalled send leaves the stream unusable: the shutdown makes
// the loop see the connection end and report the link lost.
void Link::BreakLocked() {
  broken_ = true;
  out_.clear();
  out_offset_ = 0;
  queued_ = 0;
  if (fd_.valid()) netio::Shutdown(fd_.get());
}

void Link::WatchLocked() {
  if (!fd_.valid()) return;
  uint32_t events = base_events_ | (queued_ > 0 ? netio::Events::kWritable : 0u);
  if (events == watching_) return;
  if (events == 0) {
    loop_->Unwatch(fd_.get());
    watching_ = 0;
  } else if (loop_->Watch(fd_.get(), key_, events)) {
    watching_ = events;
  }
}

void Link::SendFromLoop(const std::vector<uint8_t>& frame) {
  std::lock_guard lock(send_mu_);
  if (broken_ || !fd_.valid()) return;
  QueueLocked(frame);
  FlushLocked();
}

bool Link::Send(const std::vector<uint8_t>& frame) {
  const auto deadline = Clock::now() + kSendBudget;
  std::unique_lock lock(send_mu_);
  for (;;) {
    if (!up_ || broken_ || stop_.load() != Stop::kNone) return false;
    if (queued_ == 0 || queued_ + frame.size() <= kSendQueueLimit) {
      QueueLocked(frame);
      FlushLocked();
      return !broken_;
    }
    FlushLocked();
    if (broken_ || queued_ + frame.size() <= kSendQueueLimit) continue;
    if (Clock::now() >= deadline) {
      BreakLocked();
      return false;
    }
    // Wait for room without the lock, so the loop keeps serving the link.
    // The descriptor stays open while this link exists.
    netio::PollItem item{fd_.get(), netio::Events::kWritable, 0};
    lock.unlock();
    netio::PollOnce(&item, 1, netio::MillisUntil(deadline));
    lock.lock();
  }
}

// ---- connecting ------------------------------------------------------------

void Link::Begin() {
  if (stop_.load() != Stop::kNone) return End({QVC_CONNECT_DISCONNECTED, ""});
  key_ = loop_->Attach(shared_from_this());
  deadline_ = loop_->now() + std::chrono::milliseconds(settings_.connect_timeout_ms);
  loop_->WakeAt(deadline_);
  if (!params_.by_number) return BeginConnect(params_.address, params_.port);
  phase_ = Phase::kLookup;
  LookupProgress(lookup_.Begin(settings_, params_.group, params_.number));
}

void Link::LookupProgress(DirectoryQuery::State state) {
  switch (state) {
    case DirectoryQuery::State::kPending:
      loop_->Watch(lookup_.fd(), key_,
                   lookup_.connecting() ? netio::Events::kWritable : netio::Events::kReadable);
      return;
    case DirectoryQuery::State::kFailed: return Fail(lookup_.error());
    case DirectoryQuery::State::kAnswered: break;
  }
  // The look-up closed its socket, which took it out of the loop.
  const wire::DirAnswer& answer = lookup_.answer();
  if (!answer.found) return Fail("device is offline");
  BeginConnect(answer.address, answer.port);
}

void Link::BeginConnect(uint32_t address, uint16_t port) {
  phase_ = Phase::kConnect;
  std::string error;
  netio::Fd fd;
  netio::ConnectResult result =
      netio::StartConnect(address, port, settings_.local_address, &fd, &error);
  {
    std::lock_guard lock(send_mu_);
    fd_ = std::move(fd);
    if (result == netio::ConnectResult::kPending) {
      base_events_ = netio::Events::kWritable;
      WatchLocked();
    }
  }
  switch (result) {
    case netio::ConnectResult::kOk: return Connected();
    case netio::ConnectResult::kPending: return;
    case netio::ConnectResult::kRefused: return Fail("connection refused");
    default: return Fail(error);
  }
}

void Link::Connected() {
  // Events of the look-up socket may still arrive in the batch that closed
  // it: go on only when the device socket itself is ready.
  netio::PollItem item{fd_.get(), netio::Events::kWritable, 0};
  if (netio::PollOnce(&item, 1, 0) == 0) return;
  std::string error;
  switch (netio::FinishConnect(fd_.get(), &error)) {
    case netio::ConnectResult::kOk: break;
    case netio::ConnectResult::kRefused: return Fail("connection refused");
    default: return Fail(error);
  }
  phase_ = Phase::kLogin;
  last_receive_ = loop_->now();
  std::vector<uint8_t> hello = wire::Encode(wire::Hello{});
  bool sent = false;
  {
    std::lock_guard lock(send_mu_);
    base_events_ = netio::Events::kReadable;
    QueueLocked(wire::EncodeFrame(MsgType::kHello, hello.data(), hello.size()));
    FlushLocked();
    sent = !broken_;
  }
  if (!sent) Fail("login failed: send error");
}

// ---- receiving -------------------------------------------------------------

void Link::OnEvents(uint32_t events) {
  switch (phase_) {
    case Phase::kLookup: return LookupProgress(lookup_.Progress());
    case Phase::kConnect: return Connected();
    case Phase::kLogin:
    case Phase::kUp:
      if (events & netio::Events::kWritable) {
        std::lock_guard lock(send_mu_);
        FlushLocked();
      }
      if (events & (netio::Events::kReadable | netio::Events::kHangUp | netio::Events::kError)) {
        ReadDevice();
      }
      return;
    case Phase::kDraining: {
      bool done = false;
      {
        std::lock_guard lock(send_mu_);
        FlushLocked();
        done =
            queued_ == 0 || broken_ || (events & (netio::Events::kHangUp | netio::Events::kError));
      }
      if (done) Finish();
      return;
    }
    case Phase::kWaiting:
    case Phase::kEnded: return;
  }
}

void Link::ReadDevice() {
  const bool login = phase_ == Phase::kLogin;
  auto broken = [&](const char* what) {
    login ? Fail(std::string("login failed: ") + what) : Lose(what);
  };
  for (int reads = 0; reads < kReadsPerWake; ++reads) {
    auto [room, size] = parser_.Space(kReadChunk);
    size_t n = 0;
    switch (netio::ReceiveNow(fd_.get(), room, size, &n)) {
      case netio::Received::kData: break;
      case netio::Received::kNothing: return;
      case netio::Received::kEnded: return broken("connection closed without notice");
      case netio::Received::kFailed: return broken("connection broken");
    }
    last_receive_ = loop_->now();
    parser_.Commit(n);
    if (!DecodeAll()) return;
    if (n < size) return;  // the socket is empty
  }
}

bool Link::DecodeAll() {
  for (;;) {
    // A link asked to end delivers nothing more.
    if (stop_.load() != Stop::kNone || phase_ == Phase::kEnded) return false;
    wire::FrameView frame;
    switch (parser_.Next(&frame)) {
      case Status::kNeedMore: return true;
      case Status::kError: {
        std::string text = "malformed message (" + parser_.error() + ")";
        phase_ == Phase::kLogin ? Fail("login failed: " + text) : Lose(text);
        return false;
      }
      case Status::kFrame:
        if (!(phase_ == Phase::kLogin ? HandleLogin(frame) : Dispatch(frame))) return false;
        break;
    }
  }
}

// Expects kChallenge, then kLoginOk; a refusal may come instead of either.
bool Link::HandleLogin(const wire::FrameView& frame) {
  const std::vector<uint8_t> payload(frame.payload, frame.payload + frame.size);
  switch (frame.type) {
    case MsgType::kPing: SendFromLoop(wire::EncodeFrame(MsgType::kPong, nullptr, 0)); return true;
    case MsgType::kPong: return true;
    case MsgType::kLoginRefused: {
      wire::LoginRefused refused;
      if (!wire::Decode(payload, &refused)) {
        Fail("login failed: malformed refusal");
        return false;
      }
      const char* known = RefusalText(refused.reason);
      Fail(known ? known
                 : "refused by the device: " +
                       DeviceText(reinterpret_cast<const uint8_t*>(refused.text.data()),
                                  refused.text.size(), wire::kMaxRefusalText));
      return false;
    }
    case MsgType::kClose: Fail("login failed: the device closed the link"); return false;
    case MsgType::kChallenge: {
      wire::Challenge challenge;
      if (challenged_) break;
      if (!wire::Decode(payload, &challenge) || challenge.version != wire::kProtocolVersion) {
        Fail("login failed: malformed challenge");
        return false;
      }
      wire::Login login;
      login.device_channel = params_.device_channel;
      login.connect_type = params_.connect_type;
      login.user = params_.user.substr(0, wire::kMaxUserName);
      if (!wire::ComputeDigest(challenge.nonce, login.user, params_.password, &login.digest)) {
        Fail("login failed: digest error");
        return false;
      }
      std::vector<uint8_t> body = wire::Encode(login);
      SendFromLoop(wire::EncodeFrame(MsgType::kLogin, body.data(), body.size()));
      challenged_ = true;
      return true;
    }
    case MsgType::kLoginOk: {
      if (!challenged_) break;
      if (frame.size > wire::kMaxGreeting) {
        Fail("login failed: malformed greeting");
        return false;
      }
      {
        std::lock_guard lock(send_mu_);
        up_ = !broken_;
      }
      phase_ = Phase::kUp;
      next_ping_ = loop_->now() + std::chrono::milliseconds(settings_.ping_interval_ms);
      loop_->WakeAt(next_ping_);
      Report(QVC_CONNECT_OK, DeviceText(frame.payload, frame.size, wire::kMaxGreeting));
      return true;
    }
    default: break;
  }
  Fail("login failed: unexpected message");
  return false;
}

bool Link::Dispatch(const wire::FrameView& frame) {
  Callbacks& cb = library_.callbacks();
  const int32_t id = params_.link_id;
  const uint8_t* p = frame.payload;
  const size_t size = frame.size;
  const bool active = library_.active();
  auto malformed = [&] {
    Lose("malformed message");
    return false;
  };
  switch (frame.type) {
    case MsgType::kPing: SendFromLoop(wire::EncodeFrame(MsgType::kPong, nullptr, 0)); return true;
    case MsgType::kPong: return true;
    case MsgType::kClose:
      End({QVC_CONNECT_REMOTE_CLOSED, DeviceText(p, size, kMaxCloseText)});
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
        fn(id, size ? p : nullptr, static_cast<int32_t>(size));
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
    default: Lose("unexpected message"); return false;
  }
}

// ---- time limits and the end -------------------------------------------------

Clock::time_point Link::OnTimer(Clock::time_point now) {
  switch (phase_) {
    case Phase::kLookup:
      if (now >= deadline_) Fail(lookup_.TimeoutText());
      break;
    case Phase::kConnect:
      if (now >= deadline_) Fail("connection timed out");
      break;
    case Phase::kLogin:
      if (now >= deadline_) Fail("login timed out");
      break;
    case Phase::kUp: {
      if (now >= next_ping_) {
        SendFromLoop(wire::EncodeFrame(MsgType::kPing, nullptr, 0));
        next_ping_ = now + std::chrono::milliseconds(settings_.ping_interval_ms);
      }
      auto silent_at = last_receive_ + std::chrono::milliseconds(settings_.silence_timeout_ms);
      if (now >= silent_at) {
        Lose("keep-alive time-out");
        break;
      }
      return std::min(next_ping_, silent_at);
    }
    case Phase::kDraining:
      if (now >= deadline_) Finish();
      break;
    case Phase::kWaiting:
    case Phase::kEnded: return Clock::time_point::max();
  }
  return phase_ == Phase::kEnded ? Clock::time_point::max() : deadline_;
}

void Link::End(Outcome outcome) {
  if (phase_ == Phase::kEnded || phase_ == Phase::kDraining) return;
  lookup_.Close();
  const Stop stop = stop_.load();
  bool drain = false;
  {
    std::lock_guard lock(send_mu_);
    // On a disconnect the device is told, after whatever the host queued.
    if (up_ && !broken_ && stop == Stop::kDisconnect) {
      QueueLocked(wire::EncodeFrame(MsgType::kBye, nullptr, 0));
      FlushLocked();
      drain = queued_ > 0 && !broken_;
    }
    up_ = false;
  }
  library_.ForgetLink(params_.link_id, this);
  switch (stop) {
    case Stop::kRelease: break;
    case Stop::kDisconnect: Report(QVC_CONNECT_DISCONNECTED, ""); break;
    case Stop::kNone: Report(outcome.result, outcome.text); break;
  }
  if (drain && stop_.load() != Stop::kRelease) {
    // The report is made; the rest of the queue goes out in the background.
    {
      std::lock_guard lock(send_mu_);
      base_events_ = 0;
      WatchLocked();
      ended_ = true;
    }
    ended_cv_.notify_all();
    phase_ = Phase::kDraining;
    deadline_ = loop_->now() + kSendBudget;
    loop_->WakeAt(deadline_);
    return;
  }
  Finish();
}

void Link::Finish() {
  {
    std::lock_guard lock(send_mu_);
    if (fd_.valid()) {
      if (watching_ != 0) loop_->Unwatch(fd_.get());
      watching_ = 0;
      base_events_ = 0;
      netio::Shutdown(fd_.get());
    }
    out_.clear();
    out_offset_ = 0;
    queued_ = 0;
    up_ = false;
    ended_ = true;
  }
  ended_cv_.notify_all();
  phase_ = Phase::kEnded;
  lookup_.Close();
  loop_->Detach(key_);
  loop_->load().fetch_sub(1);
}

void Link::Abandon() {
  stop_.store(Stop::kRelease);
  if (phase_ == Phase::kEnded) return;
  if (phase_ != Phase::kDraining) library_.ForgetLink(params_.link_id, this);
  Finish();
}

}  // namespace qvc
