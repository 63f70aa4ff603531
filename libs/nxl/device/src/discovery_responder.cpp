// Answers to search probes and OKIP broadcasts.
#include "qvc/device/discovery_responder.h"

#include <digest/digest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "byte_io.h"
#include "discovery.h"
#include "messages.h"
#include "netio/datagram_loop.h"
#include "netio/socket.h"

namespace qvc::device {
namespace {

namespace okip = wire::okip;

// Longer datagrams are cut and then refused by their size.
constexpr size_t kMaxDatagram = 2048;
// The responder's sockets, in the order given to its loop.
constexpr int kSearch = 0;
constexpr int kOkip = 1;

std::string FieldText(const uint8_t* message, size_t offset, size_t size) {
  size_t n = 0;
  while (n < size && message[offset + n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(message + offset), n);
}

void PutText(uint8_t* message, size_t offset, size_t size, const std::string& text) {
  std::memset(message + offset, 0, size);
  std::memcpy(message + offset, text.data(), std::min(text.size(), size - 1));
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         digest::SameBytes(reinterpret_cast<const uint8_t*>(a.data()),
                           reinterpret_cast<const uint8_t*>(b.data()), a.size());
}

}  // namespace

class DiscoveryResponder::Impl {
 public:
  explicit Impl(DiscoveryInfo info) : info_(std::move(info)) {}
  ~Impl() { Stop(); }

  bool Start(int search_port, int okip_port, const std::string& address) {
    if (loop_.running()) return false;
    uint32_t local = netio::kAnyAddress;
    if (!address.empty() && !netio::ParseAddress(address.c_str(), &local)) return false;
    std::string error;
    std::vector<netio::Fd> sockets(2);
    for (int i : {kSearch, kOkip}) {
      int port = i == kSearch ? search_port : okip_port;
      if (port < 0) continue;
      sockets[i] = netio::BindUdp(local, static_cast<uint16_t>(port), true, &error);
      if (!sockets[i].valid()) return false;
    }
    auto on_datagram = [this](int fd, const uint8_t* data, size_t size,
                              const netio::Endpoint& from) {
      if (loopback_only.load() && !netio::IsLoopback(from.address)) return;
      if (fd == loop_.socket(kSearch)) {
        HandleSearch(data, size, from);
      } else {
        HandleOkip(data, size, from);
      }
    };
    return loop_.Start(std::move(sockets), kMaxDatagram, on_datagram);
  }

  void Stop() { loop_.Stop(); }
  uint16_t port(int index) const {
    int fd = loop_.socket(index);
    return fd >= 0 ? netio::LocalPort(fd) : 0;
  }

  DiscoveryInfo info() const {
    std::lock_guard lock(mu_);
    return info_;
  }
  void SetInfo(const DiscoveryInfo& info) {
    std::lock_guard lock(mu_);
    info_ = info;
  }
  void OnNetConfigSet(std::function<void(const DiscoveryInfo&)> handler) {
    std::lock_guard lock(mu_);
    on_set_ = std::move(handler);
  }

  std::atomic<int> delay_ms{0};
  std::atomic<bool> loopback_only{true};

 private:
  // Waits out the answer delay; false when the responder is stopping.
  bool Delay() { return loop_.Pause(delay_ms.load()); }

  static void Answer(int fd, const netio::Endpoint& to, const std::vector<uint8_t>& datagram) {
    netio::SendDatagram(fd, to, datagram.data(), datagram.size());
  }

  void HandleSearch(const uint8_t* data, size_t size, const netio::Endpoint& from) {
    auto id = wire::DecodeSearchProbe(data, size);
    if (!id) return;
    DiscoveryInfo info = this->info();
    wire::SearchAnswer answer;
    answer.group = info.group;
    answer.number = info.number;
    answer.card_type = info.card_type;
    answer.channel_count = info.channel_count;
    answer.port = info.port;
    if (!info.address.empty()) netio::ParseAddress(info.address.c_str(), &answer.address);
    answer.name = info.name;
    if (!Delay()) return;
    Answer(loop_.socket(kSearch), from, wire::EncodeSearchAnswer(*id, answer));
  }

  void Describe(const DiscoveryInfo& info, uint8_t* message) {
    PutText(message, okip::kGroup, 8, info.group);
    wire::PutU32(message + okip::kNumber, static_cast<uint32_t>(info.number));
    wire::PutU32(message + okip::kWord16, info.answer_word16);
    PutText(message, okip::kName, 100, info.name);
    wire::PutU32(message + okip::kCardType, static_cast<uint32_t>(info.card_type));
    wire::PutU32(message + okip::kWord124, info.answer_word124);
    for (size_t i = 0; i < 5; ++i) {
      std::memcpy(message + okip::kNetConfig + 4 * i, &info.net_config[i], 4);
    }
  }

  void HandleOkip(const uint8_t* data, size_t size, const netio::Endpoint& from) {
    uint32_t id = 0;
    const uint8_t* request = nullptr;
    if (!wire::DecodeOkip(data, size, wire::DiscoveryKind::kRequest, &id, &request)) return;
    uint32_t type = wire::GetU32(request + okip::kType);
    std::vector<uint8_t> answer(wire::kOkipMessageSize, 0);
    std::function<void(const DiscoveryInfo&)> on_set;
    DiscoveryInfo info;
    if (type == okip::kFind) {
      info = this->info();
      wire::PutU32(answer.data() + okip::kType, okip::kFind);
      Describe(info, answer.data());
    } else if (type == okip::kSet) {
      std::string group = wire::NormalGroup(FieldText(request, okip::kGroup, 8));
      auto number = static_cast<int32_t>(wire::GetU32(request + okip::kNumber));
      std::string user = FieldText(request, okip::kText1, 32);
      std::string password = FieldText(request, okip::kText2, 32);
      {
        std::lock_guard lock(mu_);
        if (group != wire::NormalGroup(info_.group) || number != info_.number) return;
        bool allowed = SameText(user, info_.user) && SameText(password, info_.password);
        if (allowed) {
          for (size_t i = 0; i < 5; ++i) {
            std::memcpy(&info_.net_config[i], request + okip::kNetConfig + 4 * i, 4);
          }
          on_set = on_set_;
        }
        info = info_;
        wire::PutU32(answer.data() + okip::kType, okip::kSet);
        Describe(info, answer.data());
        // The status of the set: 0 applied, 1 refused credentials.
        wire::PutU32(answer.data() + okip::kWord16, allowed ? 0 : 1);
      }
    } else {
      return;
    }
    if (on_set) on_set(info);
    if (!Delay()) return;
    Answer(loop_.socket(kOkip), from,
           wire::EncodeOkip(wire::DiscoveryKind::kAnswer, id, answer.data()));
  }

  mutable std::mutex mu_;
  DiscoveryInfo info_;
  std::function<void(const DiscoveryInfo&)> on_set_;
  netio::DatagramLoop loop_;  // last: stopped before the rest goes
};

DiscoveryResponder::DiscoveryResponder(DiscoveryInfo info)
    : impl_(std::make_unique<Impl>(std::move(info))) {}
DiscoveryResponder::~DiscoveryResponder() = default;
bool DiscoveryResponder::Start(int search_port, int okip_port, const std::string& address) {
  return impl_->Start(search_port, okip_port, address);
}
void DiscoveryResponder::Stop() {
  impl_->Stop();
}
uint16_t DiscoveryResponder::search_port() const {
  return impl_->port(kSearch);
}
uint16_t DiscoveryResponder::okip_port() const {
  return impl_->port(kOkip);
}
DiscoveryInfo DiscoveryResponder::info() const {
  return impl_->info();
}
void DiscoveryResponder::SetInfo(const DiscoveryInfo& info) {
  impl_->SetInfo(info);
}
void DiscoveryResponder::SetAnswerDelay(int ms) {
  impl_->delay_ms.store(ms);
}
void DiscoveryResponder::SetLoopbackOnly(bool loopback_only) {
  impl_->loopback_only.store(loopback_only);
}
void DiscoveryResponder::OnNetConfigSet(std::function<void(const DiscoveryInfo&)> handler) {
  impl_->OnNetConfigSet(std::move(handler));
}

}  // namespace qvc::device
