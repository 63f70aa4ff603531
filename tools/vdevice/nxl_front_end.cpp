#include "vdevice/nxl_front_end.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "vdevice/nxl_session.h"
#include "vdevice/stream_header.h"

namespace vdevice {
namespace {

using qvc::device::ClientId;

// Message types clients send.
enum : uint32_t {
  kUserData = 8,
  kFileList = 16,
  kDownload = 32,
  kStopDownload = 36,
  kPlay = 48,
  kFaster = 51,
  kSlower = 52,
  kNormalSpeed = 53,
  kStopPlay = 54,
  kPause = 55,
  kResume = 56,
  kTalkStart = 64,
  kTalkData = 65,
  kTalkStop = 67,
  kSeek = 68,
  kTextOpen = 80,
  kText = 81,
  kTextAccept = 82,
  kTextEnd = 83,
  kControl = 96,
  kVideoOn = 112,
  kVideoOff = 117,
};
constexpr uint32_t kRecordStart = 41, kRecordStop = 42;
constexpr uint8_t kControlFrame = 8;

// One date, yyyymmdd.
bool ParseDate(const uint8_t* data, size_t size, Date* date) {
  if (size < 8) return false;
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (data[i] < '0' || data[i] > '9') return false;
    v[i] = data[i] - '0';
  }
  date->year = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  date->month = v[4] * 10 + v[5];
  date->day = v[6] * 10 + v[7];
  return true;
}

// A date query, yyyymmddhhmmss of the first day then of the last; a query
// of the first day alone asks for that day.
bool ParseDateRange(const uint8_t* data, size_t size, Date* from, Date* to) {
  if (!ParseDate(data, size, from)) return false;
  if (size < 22) {
    *to = *from;
    return true;
  }
  return ParseDate(data + 14, size - 14, to);
}

}  // namespace

NxlFrontEnd::NxlFrontEnd(std::shared_ptr<VirtualDevice> device) : device_(std::move(device)) {
  const DeviceSpec& spec = device_->spec();
  qvc::device::DeviceConfig config;
  config.user = spec.user;
  config.password = spec.password;
  config.channel_count = spec.channels;
  config.max_clients = spec.client_limit;
  if (HostileAnswers* hostile = device_->hostile()) config.greeting = hostile->Greeting();
  qvc::device::DeviceHandlers handlers;
  handlers.on_login = [this](const qvc::device::ClientInfo& info) { OnLogin(info); };
  handlers.on_message = [this](ClientId id, uint32_t type, const uint8_t* data, size_t size) {
    OnMessage(id, type, data, size);
  };
  handlers.on_gone = [this](ClientId id, qvc::device::GoneReason) { OnGone(id); };
  server_ = std::make_unique<qvc::device::DeviceServer>(config, std::move(handlers));
  out_ = std::make_unique<NxlOutbox>(*server_, device_->hostile());
  feed_ = std::make_unique<NxlLiveFeed>(*device_);
  const Faults& f = spec.faults;
  using qvc::device::ForcedRefusal;
  if (f.refuse_password) server_->SetForcedRefusal(ForcedRefusal::kWrongPassword);
  if (f.no_channel) server_->SetForcedRefusal(ForcedRefusal::kNoChannel);
  if (f.client_limit) server_->SetForcedRefusal(ForcedRefusal::kClientLimit);
  if (f.slow_ms > 0) server_->SetResponseDelay(f.slow_ms);
}

NxlFrontEnd::~NxlFrontEnd() {
  Stop();
}

bool NxlFrontEnd::Start(uint16_t port) {
  DeviceSinks sinks;
  sinks.user_data = [this](const std::vector<uint8_t>& data) {
    std::vector<uint8_t> m{'A', 'L'};
    m.insert(m.end(), data.begin(), data.end());
    for (ClientId id : server_->Clients()) out_->Live(id, kControlFrame, m.data(), m.size());
  };
  sinks.recording_state = [this](bool recording) {
    const uint8_t m[2] = {1, static_cast<uint8_t>(recording ? 1 : 0)};
    for (ClientId id : server_->Clients()) out_->Live(id, kControlFrame, m, sizeof m);
  };
  sink_id_ = device_->AddSinks(std::move(sinks));
  feed_->Start();
  return server_->Start(port);
}

void NxlFrontEnd::Stop() {
  if (sink_id_ != 0) device_->RemoveSinks(sink_id_);
  sink_id_ = 0;
  feed_->Stop();
  server_->Stop();
  std::map<ClientId, std::shared_ptr<NxlSession>> sessions;
  std::vector<std::shared_ptr<NxlSession>> retired;
  {
    std::lock_guard lock(mutex_);
    sessions.swap(sessions_);
    retired.swap(retired_);
  }
  sessions.clear();  // joins their threads
  retired.clear();
}

uint16_t NxlFrontEnd::port() const {
  return server_->port();
}

size_t NxlFrontEnd::client_count() const {
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

std::shared_ptr<NxlSession> NxlFrontEnd::Session(ClientId id) const {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(id);
  return it == sessions_.end() ? nullptr : it->second;
}

void NxlFrontEnd::OnLogin(const qvc::device::ClientInfo& info) {
  auto session = std::make_shared<NxlSession>(*device_, *out_, info);
  std::vector<std::shared_ptr<NxlSession>> finished;
  {
    std::lock_guard lock(mutex_);
    sessions_[info.id] = session;
    // Sessions of clients that went away are joined here once their
    // threads ended, and at Stop.
    for (auto it = retired_.begin(); it != retired_.end();) {
      if ((*it)->finished()) {
        finished.push_back(std::move(*it));
        it = retired_.erase(it);
      } else {
        ++it;
      }
    }
  }
  session->Start();
  feed_->Add(info.id, session);
}

void NxlFrontEnd::OnGone(ClientId id) {
  std::shared_ptr<NxlSession> session;
  {
    std::lock_guard lock(mutex_);
    auto it = sessions_.find(id);
    if (it == sessions_.end()) return;
    session = it->second;
    sessions_.erase(it);
    retired_.push_back(session);
  }
  feed_->Remove(id);
  // Not joined here: the session's thread may be inside a call of the
  // server that waits for this loop thread.
  session->RequestStop();
}

void NxlFrontEnd::OnMessage(ClientId id, uint32_t type, const uint8_t* data, size_t size) {
  std::shared_ptr<NxlSession> s = Session(id);
  if (!s) return;
  if (const int slow = device_->spec().faults.slow_ms; slow > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(slow));
  }
  const std::string text(reinterpret_cast<const char*>(data), data ? size : 0);
  switch (type) {
    case kVideoOn:
    case kVideoOff:
      s->SetLive(type == kVideoOn);
      feed_->Wake();
      break;
    case kUserData:
      // User data comes back as it came: "AL" and the bytes.
      if (size >= 2 && data[0] == 'A' && data[1] == 'L') {
        out_->Live(id, kControlFrame, data, size);
      }
      break;
    case kControl:
      if (size >= 4) {
        const uint32_t code = GetLe32(data) & ~0x7F000000u;
        device_->NoteControl(code);
        if (code == kRecordStart || code == kRecordStop) {
          const uint8_t m[2] = {1, static_cast<uint8_t>(code == kRecordStart ? 1 : 0)};
          out_->Live(id, kControlFrame, m, sizeof m);
        }
      }
      break;
    case kFileList: {
      Date from, to;
      const std::vector<uint8_t> answer =
          ParseDateRange(data, size, &from, &to)
              ? device_->FileListAnswer(s->info().device_channel, from, to)
              : std::vector<uint8_t>{};
      out_->FileList(id, answer.data(), answer.size());
      break;
    }
    case kPlay:
      if (!s->Play(text)) out_->Playback(id, '9', nullptr, 0);
      break;
    case kStopPlay: s->StopPlayback(); break;
    case kPause:
    case kResume: s->Pause(type == kPause); break;
    case kFaster: s->ChangeSpeed(1); break;
    case kSlower: s->ChangeSpeed(-1); break;
    case kNormalSpeed: s->ChangeSpeed(0); break;
    case kSeek:
      if (size >= 4) s->Seek(static_cast<int32_t>(GetLe32(data)));
      break;
    case kDownload:
      if (!s->Download(text)) out_->Download(id, 35, 0, nullptr, 0);
      break;
    case kStopDownload: s->CancelDownload(); break;
    case kTalkStart: out_->Talk(id, 'B', nullptr, 0); break;
    case kTalkData: out_->Talk(id, 'A', data, size); break;
    case kTalkStop: out_->Talk(id, 'C', nullptr, 0); break;
    case kTextOpen:
    case kText:
    case kTextEnd: HandleText(*s, type, data, size); break;
    default: break;
  }
}

void NxlFrontEnd::HandleText(NxlSession& s, uint32_t type, const uint8_t* data, size_t size) {
  const ClientId id = s.info().id;
  if (type == kTextOpen) {
    const uint8_t answer = device_->spec().faults.refuse_text ? kTextEnd : kTextAccept;
    out_->Text(id, answer, nullptr, 0);
    return;
  }
  if (type != kText || data == nullptr) return;
  if (size >= 5 && std::memcmp(data, "grpc:", 5) == 0) {
    const std::string answer = "grpc:" + device_->HandleRpc(std::string_view(
                                             reinterpret_cast<const char*>(data) + 5, size - 5));
    out_->Text(id, kText, reinterpret_cast<const uint8_t*>(answer.data()), answer.size());
    return;
  }
  // The configuration handshake: header word kind 5 and the version word
  // of the client's installed library (0 to 4 bytes). A hostile device
  // answers it whatever its type.
  const bool handshake = device_->spec().device_type == 3 || device_->hostile() != nullptr;
  if (handshake && size >= 4 && (GetLe32(data) & 31u) == 5) {
    uint8_t version[4] = {};
    std::memcpy(version, data + 4, std::min<size_t>(4, size - 4));
    const std::vector<uint8_t> m = device_->ConfigMessage(GetLe32(version));
    out_->Text(id, kText, m.data(), m.size());
  }
}

}  // namespace vdevice
