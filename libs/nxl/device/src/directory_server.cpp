// The directory service: one poll loop over registrations and look-ups.

#include <map>
#include <mutex>
#include <vector>

#include "frame.h"
#include "messages.h"
#include "netio/listen_loop.h"
#include "netio/socket.h"
#include "qvc/device/directory.h"

namespace qvc::device {
namespace {

using netio::Clock;
using wire::MsgType;

constexpr size_t kMaxConnections = 4096;
constexpr auto kFirstMessageTime = std::chrono::seconds(5);

struct Connection {
  netio::Fd fd;
  wire::FrameParser parser{64};
  Clock::time_point opened;
  bool registered = false;
  std::pair<std::string, int32_t> key;
};

struct Entry {
  uint32_t address = 0;
  uint16_t port = 0;
  int32_t channel_count = 0;
  const Connection* owner = nullptr;
};

}  // namespace

class DirectoryServer::Impl {
 public:
  ~Impl() { Stop(); }

  bool Start(uint16_t port) {
    return loop_.Start(netio::kLoopback, port, [this] { Loop(); });
  }

  void Stop() {
    if (!loop_.running()) return;
    loop_.Stop();
    std::lock_guard lock(mu_);
    entries_.clear();
  }

  uint16_t port() const { return loop_.port(); }
  size_t size() const {
    std::lock_guard lock(mu_);
    return entries_.size();
  }

 private:
  static bool Send(Connection& c, MsgType type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame = wire::EncodeFrame(type, payload.data(), payload.size());
    return netio::SendAll(c.fd.get(), frame.data(), frame.size());
  }

  // Handles one frame; false closes the connection.
  bool Handle(Connection& c, const wire::Frame& frame) {
    if (frame.type == MsgType::kPing) return Send(c, MsgType::kPong, {});
    if (c.registered) return false;
    if (frame.type == MsgType::kDirRegister) {
      wire::DirRegister reg;
      if (!wire::Decode(frame.payload, &reg)) {
        Send(c, MsgType::kDirRegistered, {1});
        return false;
      }
      c.registered = true;
      c.key = {reg.group, reg.number};
      {
        std::lock_guard lock(mu_);
        entries_[c.key] = Entry{reg.address ? reg.address : netio::PeerAddress(c.fd.get()),
                                reg.port, reg.channel_count, &c};
      }
      return Send(c, MsgType::kDirRegistered, {0});
    }
    if (frame.type == MsgType::kDirLookup) {
      wire::DirLookup lookup;
      if (!wire::Decode(frame.payload, &lookup)) return false;
      wire::DirAnswer answer;
      {
        std::lock_guard lock(mu_);
        auto it = entries_.find({lookup.group, lookup.number});
        if (it != entries_.end()) {
          answer =
              wire::DirAnswer{true, it->second.address, it->second.port, it->second.channel_count};
        }
      }
      Send(c, MsgType::kDirAnswer, wire::Encode(answer));
      return false;  // one look-up per connection
    }
    return false;
  }

  void Close(std::unique_ptr<Connection>& c) {
    if (c->registered) {
      std::lock_guard lock(mu_);
      auto it = entries_.find(c->key);
      if (it != entries_.end() && it->second.owner == c.get()) entries_.erase(it);
    }
    c.reset();
  }

  // False when the connection is to be closed.
  bool Read(Connection& c) {
    uint8_t buf[512];
    size_t got = 0;
    switch (netio::ReceiveNow(c.fd.get(), buf, sizeof buf, &got)) {
      case netio::Received::kData: break;
      case netio::Received::kNothing: return true;
      case netio::Received::kEnded:
      case netio::Received::kFailed: return false;
    }
    c.parser.Feed(buf, got);
    for (;;) {
      wire::Frame frame;
      switch (c.parser.Next(&frame)) {
        case wire::FrameParser::Status::kNeedMore: return true;
        case wire::FrameParser::Status::kError: return false;
        case wire::FrameParser::Status::kFrame:
          if (!Handle(c, frame)) return false;
      }
    }
  }

  void Loop() {
    std::vector<std::unique_ptr<Connection>> conns;
    std::vector<netio::PollItem> fds;
    while (!loop_.stopping()) {
      fds.clear();
      constexpr uint32_t kIn = netio::Events::kReadable;
      fds.push_back({loop_.listen_fd(), kIn, 0});
      fds.push_back({loop_.wake_fd(), kIn, 0});
      for (const auto& c : conns) fds.push_back({c->fd.get(), kIn, 0});
      int n = netio::PollOnce(fds.data(), fds.size(), 1000);
      if (n < 0) break;
      if (fds[1].ready & kIn) loop_.ClearWake();
      auto now = Clock::now();
      for (size_t i = 0; i < conns.size(); ++i) {
        bool keep = true;
        if (n > 0 && fds[i + 2].ready != 0) keep = Read(*conns[i]);
        if (keep && !conns[i]->registered && now - conns[i]->opened > kFirstMessageTime) {
          keep = false;
        }
        if (!keep) Close(conns[i]);
      }
      std::erase_if(conns, [](const auto& c) { return !c; });
      if (fds[0].ready & kIn) {
        netio::Fd fd = netio::Accept(loop_.listen_fd());
        if (fd.valid()) {
          netio::SetSendTimeout(fd.get(), 2000);
          auto c = std::make_unique<Connection>();
          c->fd = std::move(fd);
          c->opened = now;
          if (conns.size() < kMaxConnections) conns.push_back(std::move(c));
        }
      }
    }
    for (auto& c : conns) Close(c);
  }

  mutable std::mutex mu_;
  std::map<std::pair<std::string, int32_t>, Entry> entries_;
  netio::ListenLoop loop_;  // last: stopped before the rest goes
};

DirectoryServer::DirectoryServer() : impl_(std::make_unique<Impl>()) {}
DirectoryServer::~DirectoryServer() = default;
bool DirectoryServer::Start(uint16_t port) {
  return impl_->Start(port);
}
void DirectoryServer::Stop() {
  impl_->Stop();
}
uint16_t DirectoryServer::port() const {
  return impl_->port();
}
size_t DirectoryServer::size() const {
  return impl_->size();
}

}  // namespace qvc::device
