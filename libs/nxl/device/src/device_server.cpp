// The device side of Nxl links: one poll loop per server.
#include "qvc/device/device_server.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "auth.h"
#include "byte_io.h"
#include "frame.h"
#include "messages.h"
#include "netio/listen_loop.h"
#include "netio/socket.h"

namespace qvc::device {
namespace {

using netio::Clock;
using wire::MsgType;

enum class Phase { kHello, kLogin, kUp };

constexpr int kSendTimeoutMs = 5000;
constexpr size_t kReadChunk = 64 * 1024;

struct PendingReply {
  Clock::time_point due;
  std::vector<uint8_t> bytes;
  Phase next_phase = Phase::kHello;
  bool close_after = false;
};

struct Client {
  ClientId id = 0;
  netio::Fd fd;  // closed only by the loop, under send_mu
  wire::FrameParser parser;
  std::atomic<Phase> phase{Phase::kHello};
  wire::Nonce nonce{};
  ClientInfo info;
  Clock::time_point last_receive;
  std::optional<PendingReply> reply;
  std::mutex send_mu;
  bool closed = false;               // guarded by send_mu
  std::optional<GoneReason> forced;  // guarded by send_mu
};

wire::Refusal ToWire(ForcedRefusal refusal) {
  switch (refusal) {
    case ForcedRefusal::kWrongPassword: return wire::Refusal::kWrongPassword;
    case ForcedRefusal::kNoChannel: return wire::Refusal::kNoChannel;
    case ForcedRefusal::kConnectType: return wire::Refusal::kConnectType;
    case ForcedRefusal::kClientLimit: return wire::Refusal::kClientLimit;
    case ForcedRefusal::kNone: break;
  }
  return wire::Refusal::kOther;
}

}  // namespace

class DeviceServer::Impl {
 public:
  Impl(DeviceConfig config, DeviceHandlers handlers)
      : config_(std::move(config)), handlers_(std::move(handlers)) {}
  ~Impl() { Stop(); }

  bool Start(uint16_t port) {
    return loop_.Start(netio::kLoopback, port, [this] { Loop(); });
  }
  void Stop() { loop_.Stop(); }
  uint16_t port() const { return loop_.port(); }

  std::vector<ClientId> Clients() const {
    std::lock_guard lock(mu_);
    std::vector<ClientId> ids;
    for (const auto& [id, c] : clients_) {
      if (c->phase.load() == Phase::kUp) ids.push_back(id);
    }
    return ids;
  }

  bool SendFrame(ClientId id, const std::vector<uint8_t>& frame) {
    return SendEncoded(id, frame.data(), frame.size());
  }

  bool SendEncoded(ClientId id, const uint8_t* data, size_t size) {
    auto client = Find(id);
    if (!client || client->phase.load() != Phase::kUp) return false;
    return SendTo(*client, data, size);
  }

  bool Drop(ClientId id) {
    auto client = Find(id);
    if (!client) return false;
    std::lock_guard lock(client->send_mu);
    if (client->closed) return false;
    if (!client->forced) client->forced = GoneReason::kDropped;
    netio::Shutdown(client->fd.get());
    return true;
  }

  bool Close(ClientId id, const std::string& text) {
    auto client = Find(id);
    if (!client || client->phase.load() != Phase::kUp) return false;
    std::vector<uint8_t> frame = wire::EncodeFrame(MsgType::kClose, text.data(), text.size());
    std::lock_guard lock(client->send_mu);
    if (client->closed) return false;
    bool sent = netio::SendAll(client->fd.get(), frame.data(), frame.size());
    if (!client->forced) client->forced = GoneReason::kClosed;
    netio::Shutdown(client->fd.get());
    return sent;
  }

  bool SendRaw(ClientId id, const uint8_t* data, size_t size) {
    auto client = Find(id);
    if (!client) return false;
    std::lock_guard lock(client->send_mu);
    if (client->closed) return false;
    return netio::SendAll(client->fd.get(), data, size);
  }

  std::atomic<int> response_delay_ms{0};
  std::atomic<ForcedRefusal> forced_refusal{ForcedRefusal::kNone};
  std::atomic<bool> silent{false};

 private:
  std::shared_ptr<Client> Find(ClientId id) const {
    std::lock_guard lock(mu_);
    auto it = clients_.find(id);
    return it == clients_.end() ? nullptr : it->second;
  }

  bool SendTo(Client& client, const std::vector<uint8_t>& frame) {
    return SendTo(client, frame.data(), frame.size());
  }

  bool SendTo(Client& client, const uint8_t* data, size_t size) {
    std::lock_guard lock(client.send_mu);
    if (client.closed) return false;
    if (netio::SendAll(client.fd.get(), data, size)) return true;
    if (!client.forced) client.forced = GoneReason::kSendFailed;
    netio::Shutdown(client.fd.get());
    return false;
  }

  // Every connection waiting on the (non-blocking) listening socket, so that
  // hundreds of clients connecting at once are taken in one wake-up.
  void Accept() {
    for (netio::Fd fd; (fd = netio::Accept(loop_.listen_fd())).valid();) AddClient(std::move(fd));
  }

  void AddClient(netio::Fd fd) {
    netio::SetNoDelay(fd.get());
    netio::SetSendTimeout(fd.get(), kSendTimeoutMs);
    auto client = std::make_shared<Client>();
    client->fd = std::move(fd);
    client->last_receive = Clock::now();
    std::lock_guard lock(mu_);
    client->id = next_id_++;
    clients_.emplace(client->id, client);
  }

  void Remove(const std::shared_ptr<Client>& client, GoneReason reason) {
    {
      std::lock_guard lock(client->send_mu);
      if (client->forced) reason = *client->forced;
      client->closed = true;
      client->fd.Reset();
    }
    {
      std::lock_guard lock(mu_);
      clients_.erase(client->id);
    }
    if (client->phase.load() == Phase::kUp && handlers_.on_gone) {
      handlers_.on_gone(client->id, reason);
    }
  }

  void Reply(Client& client, std::vector<uint8_t> bytes, Phase next, bool close_after) {
    PendingReply reply{Clock::now() + std::chrono::milliseconds(response_delay_ms.load()),
                       std::move(bytes), next, close_after};
    client.reply = std::move(reply);
  }

  void Refuse(Client& client, wire::Refusal reason, const std::string& text) {
    std::vector<uint8_t> payload = wire::Encode(wire::LoginRefused{reason, text});
    Reply(client, wire::EncodeFrame(MsgType::kLoginRefused, payload.data(), payload.size()),
          Phase::kLogin, true);
  }

  // Clients logged in or about to be (answer delayed). Loop thread only.
  int UpCount() const {
    std::lock_guard lock(mu_);
    return static_cast<int>(std::count_if(clients_.begin(), clients_.end(), [](const auto& e) {
      const Client& c = *e.second;
      return c.phase.load() == Phase::kUp || (c.reply && c.reply->next_phase == Phase::kUp);
    }));
  }

  void CheckLogin(Client& client, const wire::Login& login) {
    wire::Digest expected{};
    bool digest_ok = wire::ComputeDigest(client.nonce, config_.user, config_.password, &expected);
    ForcedRefusal forced = forced_refusal.load();
    if (forced != ForcedRefusal::kNone) {
      Refuse(client, ToWire(forced), "refused");
    } else if (!digest_ok || login.user != config_.user ||
               !wire::SameDigest(expected, login.digest)) {
      Refuse(client, wire::Refusal::kWrongPassword, "wrong user name or password");
    } else if (login.device_channel < config_.first_channel ||
               login.device_channel - config_.first_channel >= config_.channel_count) {
      Refuse(client, wire::Refusal::kNoChannel, "no such channel");
    } else if (login.connect_type < 0 || login.connect_type > 31 ||
               !(config_.accepted_connect_types & (1u << login.connect_type))) {
      Refuse(client, wire::Refusal::kConnectType, "connect type not accepted");
    } else if (UpCount() >= config_.max_clients) {
      Refuse(client, wire::Refusal::kClientLimit, "too many clients");
    } else {
      client.info = ClientInfo{client.id, login.user, login.device_channel, login.connect_type};
      Reply(client,
            wire::EncodeFrame(MsgType::kLoginOk, config_.greeting.data(),
                              std::min(config_.greeting.size(), wire::kMaxGreeting)),
            Phase::kUp, false);
    }
  }

  // Handles one frame; false ends the client with `reason`.
  bool Handle(const std::shared_ptr<Client>& client, const wire::Frame& frame, GoneReason* reason) {
    *reason = GoneReason::kProtocolError;
    switch (frame.type) {
      case MsgType::kPing:
        if (!silent.load()) SendTo(*client, wire::EncodeFrame(MsgType::kPong, nullptr, 0));
        return true;
      case MsgType::kPong: return true;
      case MsgType::kBye: *reason = GoneReason::kBye; return false;
      default: break;
    }
    if (client->reply) return false;  // nothing else is expected before the answer
    Phase phase = client->phase.load();
    if (phase == Phase::kHello && frame.type == MsgType::kHello) {
      wire::Hello hello;
      if (!wire::Decode(frame.payload, &hello)) return false;
      if (hello.min_version > wire::kProtocolVersion ||
          hello.max_version < wire::kProtocolVersion) {
        Refuse(*client, wire::Refusal::kVersion, "protocol version not supported");
        return true;
      }
      if (!wire::MakeNonce(&client->nonce)) return false;
      wire::Challenge challenge;
      challenge.nonce = client->nonce;
      std::vector<uint8_t> payload = wire::Encode(challenge);
      Reply(*client, wire::EncodeFrame(MsgType::kChallenge, payload.data(), payload.size()),
            Phase::kLogin, false);
      return true;
    }
    if (phase == Phase::kLogin && frame.type == MsgType::kLogin) {
      wire::Login login;
      if (!wire::Decode(frame.payload, &login)) return false;
      CheckLogin(*client, login);
      return true;
    }
    if (phase == Phase::kUp && frame.type == MsgType::kData) {
      if (frame.payload.size() < 4) return false;
      if (handlers_.on_message) {
        handlers_.on_message(client->id, wire::GetU32(frame.payload.data()),
                             frame.payload.data() + 4, frame.payload.size() - 4);
      }
      return true;
    }
    return false;
  }

  void SendDueReplies(const std::shared_ptr<Client>& client, Clock::time_point now) {
    if (!client->reply || client->reply->due > now) return;
    PendingReply reply = std::move(*client->reply);
    client->reply.reset();
    client->last_receive = now;
    {
      // The phase changes under the send lock before the answer goes out:
      // no owner's message can overtake the login acceptance, and a client
      // that has read the acceptance finds itself listed.
      std::lock_guard lock(client->send_mu);
      if (client->closed) return;
      if (!reply.close_after) client->phase.store(reply.next_phase);
      if (!netio::SendAll(client->fd.get(), reply.bytes.data(), reply.bytes.size())) {
        if (!client->forced) client->forced = GoneReason::kSendFailed;
        netio::Shutdown(client->fd.get());
        return;
      }
      if (reply.close_after) {
        if (!client->forced) client->forced = GoneReason::kClosed;
        netio::Shutdown(client->fd.get());
        return;
      }
    }
    if (reply.next_phase == Phase::kUp && handlers_.on_login) handlers_.on_login(client->info);
  }

  // Reads what is queued; false when the client is to be removed.
  bool ReadClient(const std::shared_ptr<Client>& client, GoneReason* reason) {
    uint8_t buf[kReadChunk];
    size_t got = 0;
    switch (netio::ReceiveNow(client->fd.get(), buf, sizeof buf, &got)) {
      case netio::Received::kData: break;
      case netio::Received::kNothing: return true;
      case netio::Received::kEnded:
      case netio::Received::kFailed: *reason = GoneReason::kClosedByPeer; return false;
    }
    client->last_receive = Clock::now();
    client->parser.Feed(buf, got);
    for (;;) {
      wire::Frame frame;
      switch (client->parser.Next(&frame)) {
        case wire::FrameParser::Status::kNeedMore: return true;
        case wire::FrameParser::Status::kError: *reason = GoneReason::kProtocolError; return false;
        case wire::FrameParser::Status::kFrame:
          if (!Handle(client, frame, reason)) return false;
          break;
      }
    }
  }

  void Loop() {
    std::vector<std::shared_ptr<Client>> clients;
    std::vector<netio::PollItem> fds;
    while (!loop_.stopping()) {
      {
        std::lock_guard lock(mu_);
        clients.clear();
        for (const auto& [id, c] : clients_) clients.push_back(c);
      }
      auto now = Clock::now();
      Clock::time_point wake_at = now + std::chrono::seconds(1);
      for (const auto& c : clients) {
        if (c->reply) {
          wake_at = std::min(wake_at, c->reply->due);
        } else {
          wake_at = std::min(wake_at,
                             c->last_receive + std::chrono::milliseconds(config_.idle_timeout_ms));
        }
      }
      fds.clear();
      constexpr uint32_t kIn = netio::Events::kReadable;
      fds.push_back({loop_.listen_fd(), kIn, 0});
      fds.push_back({loop_.wake_fd(), kIn, 0});
      for (const auto& c : clients) fds.push_back({c->fd.get(), kIn, 0});
      int n = netio::PollOnce(fds.data(), fds.size(), netio::MillisUntil(wake_at));
      if (n < 0) break;
      if (fds[1].ready & kIn) loop_.ClearWake();
      if (fds[0].ready & kIn) Accept();
      now = Clock::now();
      for (size_t i = 0; i < clients.size(); ++i) {
        const auto& c = clients[i];
        GoneReason reason = GoneReason::kClosedByPeer;
        if (n > 0 && fds[i + 2].ready != 0 && !ReadClient(c, &reason)) {
          Remove(c, reason);
          continue;
        }
        SendDueReplies(c, now);
        if (!c->reply &&
            now - c->last_receive > std::chrono::milliseconds(config_.idle_timeout_ms)) {
          Remove(c, GoneReason::kIdle);
        }
      }
    }
    std::map<ClientId, std::shared_ptr<Client>> rest;
    {
      std::lock_guard lock(mu_);
      rest = clients_;
    }
    for (auto& [id, c] : rest) Remove(c, GoneReason::kStopped);
  }

  DeviceConfig config_;
  DeviceHandlers handlers_;
  mutable std::mutex mu_;
  std::map<ClientId, std::shared_ptr<Client>> clients_;
  ClientId next_id_ = 1;
  netio::ListenLoop loop_;  // last: stopped before the rest goes
};

DeviceServer::DeviceServer(DeviceConfig config, DeviceHandlers handlers)
    : impl_(std::make_unique<Impl>(std::move(config), std::move(handlers))) {}
DeviceServer::~DeviceServer() = default;

bool DeviceServer::Start(uint16_t port) {
  return impl_->Start(port);
}
void DeviceServer::Stop() {
  impl_->Stop();
}
uint16_t DeviceServer::port() const {
  return impl_->port();
}
std::vector<ClientId> DeviceServer::Clients() const {
  return impl_->Clients();
}

bool DeviceServer::SendLive(ClientId id, uint8_t frame_type, const uint8_t* data, size_t size) {
  return impl_->SendFrame(id, wire::EncodeTyped(MsgType::kLive, frame_type, data, size));
}
bool DeviceServer::SendPlayback(ClientId id, uint8_t frame_type, const uint8_t* data, size_t size) {
  return impl_->SendFrame(id, wire::EncodeTyped(MsgType::kPlayback, frame_type, data, size));
}
bool DeviceServer::SendFileList(ClientId id, const uint8_t* data, size_t size) {
  return impl_->SendFrame(id, wire::EncodeFrame(MsgType::kFileList, data, size));
}
bool DeviceServer::SendTalk(ClientId id, uint8_t kind, const uint8_t* data, size_t size) {
  return impl_->SendFrame(id, wire::EncodeTyped(MsgType::kTalk, kind, data, size));
}
bool DeviceServer::SendText(ClientId id, uint8_t type, const uint8_t* data, size_t size) {
  return impl_->SendFrame(id, wire::EncodeTyped(MsgType::kText, type, data, size));
}
bool DeviceServer::SendDownload(ClientId id, uint8_t type, uint32_t total, const uint8_t* data,
                                size_t size) {
  return impl_->SendFrame(id, wire::EncodeDownload(type, total, data, size));
}

void DeviceServer::AppendLive(std::vector<uint8_t>* out, uint8_t frame_type, const uint8_t* prefix,
                              size_t prefix_size, const uint8_t* data, size_t size) {
  std::vector<uint8_t> lead(1 + prefix_size, frame_type);
  if (prefix_size > 0) std::memcpy(lead.data() + 1, prefix, prefix_size);
  wire::AppendFrame(out, MsgType::kLive, lead.data(), lead.size(), data, size);
}
bool DeviceServer::SendEncoded(ClientId id, const uint8_t* data, size_t size) {
  return impl_->SendEncoded(id, data, size);
}

bool DeviceServer::Drop(ClientId id) {
  return impl_->Drop(id);
}
bool DeviceServer::Close(ClientId id, const std::string& text) {
  return impl_->Close(id, text);
}
bool DeviceServer::SendMalformed(ClientId id) {
  // A header with a valid start and a length far beyond the limit.
  static const uint8_t kBad[] = {'N', 'X', 1, 32, 0xff, 0xff, 0xff, 0x7f};
  return impl_->SendRaw(id, kBad, sizeof kBad);
}
bool DeviceServer::SendRaw(ClientId id, const uint8_t* data, size_t size) {
  return impl_->SendRaw(id, data, size);
}
void DeviceServer::SetResponseDelay(int ms) {
  impl_->response_delay_ms.store(ms < 0 ? 0 : ms);
}
void DeviceServer::SetForcedRefusal(ForcedRefusal refusal) {
  impl_->forced_refusal.store(refusal);
}
void DeviceServer::SetSilent(bool silent) {
  impl_->silent.store(silent);
}

}  // namespace qvc::device
