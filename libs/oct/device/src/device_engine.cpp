#include "device_internal.h"
#include "messages.h"
#include "netio/socket.h"
#include "search_responder.h"

namespace octc::device {
namespace {

using wire::Type;

// Connections served at once, logged in or not: a flood of connections ends
// here instead of in threads without bound.
constexpr size_t kMaxSessions = 256;

std::vector<uint8_t> MediaPayload(const OctMediaInfo& m) {
  wire::Writer w;
  wire::WriteMediaInfo(w, m);
  return w.Take();
}

// The fields before the bulk data of a video or audio message.
std::vector<uint8_t> VideoPrefix(int32_t type, uint32_t ts) {
  return wire::Writer().I32(type).U32(ts).Take();
}

std::vector<uint8_t> AudioPrefix(uint32_t ts) {
  return wire::Writer().U32(ts).Take();
}

}  // namespace

DeviceEngine::Impl::Impl(DeviceConfig c, DeviceHandler* h)
    : config(std::move(c)), handler(h ? h : &defaults) {}

DeviceConfig DeviceEngine::Impl::Config() const {
  std::lock_guard<std::mutex> l(lock);
  return config;
}

std::vector<std::shared_ptr<Session>> DeviceEngine::Impl::LiveSessions() {
  std::vector<std::shared_ptr<Session>> out;
  std::lock_guard<std::mutex> l(lock);
  for (auto& [id, s] : sessions)
    if (s->logged_in() && !s->done()) out.push_back(s);
  return out;
}

std::shared_ptr<Session> DeviceEngine::Impl::FindSession(uint64_t id) {
  std::lock_guard<std::mutex> l(lock);
  auto it = sessions.find(id);
  return it == sessions.end() ? nullptr : it->second;
}

bool DeviceEngine::Impl::TryLogin(Session&, int32_t* result) {
  std::lock_guard<std::mutex> l(lock);
  if (static_cast<int64_t>(logged_in) >= config.client_limit) {
    *result = OCTC_ERR_CLIENT_LIMIT;
    return false;
  }
  ++logged_in;
  *result = 0;
  return true;
}

void DeviceEngine::Impl::Reap() {
  std::vector<std::shared_ptr<Session>> finished;
  {
    std::lock_guard<std::mutex> l(lock);
    for (auto it = sessions.begin(); it != sessions.end();) {
      if (it->second->done()) {
        finished.push_back(it->second);
        it = sessions.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& s : finished) s->Join();
}

void DeviceEngine::Impl::Admit(netio::Fd fd) {
  netio::SetNoDelay(fd.get());
  std::shared_ptr<Session> s;
  {
    std::lock_guard<std::mutex> l(lock);
    if (sessions.size() >= kMaxSessions) return;  // closes the connection at once
    s = std::make_shared<Session>(next_session++, std::move(fd), *this);
    sessions[s->id()] = s;
  }
  s->Start();
}

DeviceEngine::DeviceEngine(DeviceConfig config, DeviceHandler* handler)
    : m_impl(std::make_unique<Impl>(std::move(config), handler)) {}

DeviceEngine::~DeviceEngine() {
  Stop();
}

bool DeviceEngine::Start() {
  Impl& d = *m_impl;
  DeviceConfig c = d.Config();
  uint32_t address = 0;
  if (d.acceptor.running() || !netio::ResolveIpv4(c.address, &address)) return false;
  d.stop = false;
  return d.acceptor.Start(
      address, c.port, [&d](netio::Fd fd) { d.Admit(std::move(fd)); }, [&d] { d.Reap(); });
}

void DeviceEngine::Stop() {
  Impl& d = *m_impl;
  d.stop = true;
  d.acceptor.Stop();
  if (d.responder) d.responder->Stop();
  d.registered = false;
  d.registration.Reset();
  std::map<uint64_t, std::shared_ptr<Session>> sessions;
  {
    std::lock_guard<std::mutex> l(d.lock);
    sessions.swap(d.sessions);
  }
  for (auto& [id, s] : sessions) s->conn().Shutdown();
  for (auto& [id, s] : sessions) s->Join();
}

uint16_t DeviceEngine::port() const {
  return m_impl->acceptor.port();
}
DeviceConfig DeviceEngine::config() const {
  return m_impl->Config();
}

void DeviceEngine::SetCredentials(const std::string& user, const std::string& password) {
  std::lock_guard<std::mutex> l(m_impl->lock);
  m_impl->config.user = user;
  m_impl->config.password = password;
}

void DeviceEngine::SetClientLimit(int32_t limit) {
  std::lock_guard<std::mutex> l(m_impl->lock);
  m_impl->config.client_limit = limit;
}

void DeviceEngine::SetChannelCount(int32_t count) {
  std::lock_guard<std::mutex> l(m_impl->lock);
  m_impl->config.channel_count = count;
}

void DeviceEngine::SetAnswerDelay(int ms) {
  m_impl->delay_ms = ms;
}
void DeviceEngine::SetSilent(bool silent) {
  m_impl->silent = silent;
}

void DeviceEngine::SetConfigRefused(bool refused) {
  m_impl->config_refused = refused;
}

size_t DeviceEngine::SessionCount() const {
  std::lock_guard<std::mutex> l(m_impl->lock);
  return m_impl->logged_in;
}

int DeviceEngine::SetMediaInfo(int32_t channel, int32_t stream, const OctMediaInfo& info) {
  {
    std::lock_guard<std::mutex> l(m_impl->lock);
    m_impl->media[{channel, stream}] = info;
  }
  std::vector<uint8_t> payload = MediaPayload(info);
  int n = 0;
  for (auto& s : m_impl->LiveSessions())
    for (int32_t h : s->StreamsOf(channel, stream))
      n += s->SendOn(h, SubKind::kStream, Type::kMediaInfo, payload) ? 1 : 0;
  return n;
}

int DeviceEngine::PushFrame(int32_t channel, int32_t stream, int32_t type, const uint8_t* data,
                            size_t size, uint32_t timestamp_ms) {
  std::vector<uint8_t> prefix = VideoPrefix(type, timestamp_ms);
  int n = 0;
  for (auto& s : m_impl->LiveSessions())
    for (int32_t h : s->StreamsOf(channel, stream))
      n += s->SendOnGather(h, SubKind::kStream, Type::kVideo, prefix, data, size) ? 1 : 0;
  return n;
}

int DeviceEngine::PushAudio(int32_t channel, int32_t stream, const uint8_t* data, size_t size,
                            uint32_t timestamp_ms) {
  std::vector<uint8_t> prefix = AudioPrefix(timestamp_ms);
  int n = 0;
  for (auto& s : m_impl->LiveSessions())
    for (int32_t h : s->StreamsOf(channel, stream))
      n += s->SendOnGather(h, SubKind::kStream, Type::kAudio, prefix, data, size) ? 1 : 0;
  return n;
}

int DeviceEngine::CloseStreams(int32_t channel, int32_t stream) {
  std::vector<uint8_t> payload = wire::Writer().I32(OCTC_STATE_CLOSED).I32(0).Take();
  int n = 0;
  for (auto& s : m_impl->LiveSessions())
    for (int32_t h : s->StreamsOf(channel, stream))
      if (s->SendOn(h, SubKind::kStream, Type::kState, payload, true)) {
        m_impl->handler->OnStreamClosed({s->id(), h});
        ++n;
      }
  return n;
}

bool DeviceEngine::PlaybackMediaInfo(SubRef ref, const OctMediaInfo& info) {
  auto s = m_impl->FindSession(ref.session);
  return s && s->SendOn(ref.handle, SubKind::kVod, Type::kMediaInfo, MediaPayload(info));
}

bool DeviceEngine::PlaybackFrame(SubRef ref, int32_t type, const uint8_t* data, size_t size,
                                 uint32_t timestamp_ms) {
  auto s = m_impl->FindSession(ref.session);
  return s && s->SendOnGather(ref.handle, SubKind::kVod, Type::kVideo,
                              VideoPrefix(type, timestamp_ms), data, size);
}

bool DeviceEngine::PlaybackAudio(SubRef ref, const uint8_t* data, size_t size,
                                 uint32_t timestamp_ms) {
  auto s = m_impl->FindSession(ref.session);
  return s && s->SendOnGather(ref.handle, SubKind::kVod, Type::kAudio, AudioPrefix(timestamp_ms),
                              data, size);
}

bool DeviceEngine::EndPlayback(SubRef ref, int32_t status, int32_t flag) {
  auto s = m_impl->FindSession(ref.session);
  const bool ends = status != OCTC_STATE_RESULT || flag != 0;
  return s && s->SendOn(ref.handle, SubKind::kVod, Type::kState,
                        wire::Writer().I32(status).I32(flag).Take(), ends);
}

bool DeviceEngine::DownloadData(SubRef ref, const uint8_t* data, size_t size, uint64_t total,
                                uint64_t received) {
  auto s = m_impl->FindSession(ref.session);
  return s && s->SendOnGather(ref.handle, SubKind::kDown, Type::kDownData,
                              wire::Writer().U64(total).U64(received).Take(), data, size);
}

bool DeviceEngine::EndDownload(SubRef ref, int32_t status, int32_t flag) {
  auto s = m_impl->FindSession(ref.session);
  const bool ends = status != OCTC_STATE_RESULT || flag != 0;
  return s && s->SendOn(ref.handle, SubKind::kDown, Type::kState,
                        wire::Writer().I32(status).I32(flag).Take(), ends);
}

bool DeviceEngine::TalkAudio(SubRef ref, const uint8_t* data, size_t size) {
  auto s = m_impl->FindSession(ref.session);
  return s && s->SendOnGather(ref.handle, SubKind::kChat, Type::kChatData,
                              wire::Writer().U32(0).U32(0).Take(), data, size);
}

bool DeviceEngine::EndTalk(SubRef ref) {
  auto s = m_impl->FindSession(ref.session);
  return s && s->SendOn(ref.handle, SubKind::kChat, Type::kState,
                        wire::Writer().I32(OCTC_STATE_CLOSED).I32(0).Take(), true);
}

int DeviceEngine::SendNotice(int32_t type, const void* data, size_t size) {
  wire::Writer w;
  w.I32(type).Blob(data, size);
  int n = 0;
  for (auto& s : m_impl->LiveSessions()) n += s->conn().Send(Type::kNotice, 0, 0, w.data()) ? 1 : 0;
  return n;
}

bool DeviceEngine::SendNoticeTo(uint64_t session, int32_t type, const void* data, size_t size) {
  auto s = m_impl->FindSession(session);
  if (!s || !s->logged_in()) return false;
  wire::Writer w;
  w.I32(type).Blob(data, size);
  return s->conn().Send(Type::kNotice, 0, 0, w.data());
}

void DeviceEngine::DropLinks() {
  std::lock_guard<std::mutex> l(m_impl->lock);
  for (auto& [id, s] : m_impl->sessions) s->conn().Abort();
}

void DeviceEngine::CloseLinks() {
  std::vector<uint8_t> bye = wire::Writer().I32(0).Take();
  std::lock_guard<std::mutex> l(m_impl->lock);
  for (auto& [id, s] : m_impl->sessions) {
    s->conn().Send(Type::kBye, 0, 0, bye);
    s->conn().Shutdown();
  }
}

int DeviceEngine::SendMalformed(Malformed kind) {
  std::vector<uint8_t> msg;
  switch (kind) {
    case Malformed::kBadMagic:
      msg = wire::BuildMessage(Type::kPing, 0, 0, {});
      msg[0] = 0xAD;
      msg[1] = 0xDE;
      break;
    case Malformed::kOversize: {
      wire::Header h;
      h.type = Type::kNotice;
      h.length = wire::kMaxPayload + 1;
      msg.resize(wire::kHeaderSize);
      wire::EncodeHeader(h, msg.data());
      break;
    }
    case Malformed::kTruncatedBody: msg = wire::BuildMessage(Type::kNotice, 0, 0, {1, 4, 0}); break;
    case Malformed::kUnknownType: msg = wire::BuildMessage(static_cast<Type>(999), 0, 0, {}); break;
    case Malformed::kBadCount: {
      std::lock_guard<std::mutex> l(m_impl->lock);
      m_impl->corrupt_next_list = true;
      return 0;
    }
  }
  int n = 0;
  for (auto& s : m_impl->LiveSessions()) n += s->conn().SendRaw(msg) ? 1 : 0;
  return n;
}

bool DeviceEngine::RegisterWithDirectory(const std::string& address, uint16_t port) {
  DeviceConfig c = m_impl->Config();
  netio::Fd fd = netio::ConnectTcp(address, port, 5000, 5000);
  if (!fd.valid()) return false;
  wire::Writer w;
  w.Text(c.device_id).Text(c.address).U16(m_impl->acceptor.port());
  std::vector<uint8_t> msg = wire::BuildMessage(Type::kDirRegister, 0, 1, w.data());
  if (!netio::SendAll(fd.get(), msg.data(), msg.size())) return false;
  wire::Frame f;
  if (net::ReadFrame(fd.get(), 5000, f) != net::ReadResult::kFrame ||
      f.header.type != Type::kDirRegisterResp)
    return false;
  wire::Reader r(f.payload);
  if (r.I32() != 0 || !r.AtEnd()) return false;
  m_impl->registration = std::move(fd);  // registered while this link stays open
  m_impl->registered = true;
  return true;
}

void DeviceEngine::UnregisterFromDirectory() {
  m_impl->registered = false;
  m_impl->registration.Reset();
}

bool DeviceEngine::StartSearchResponder(const std::string& address, uint16_t port) {
  Impl* d = m_impl.get();
  if (d->responder) return false;
  d->responder = std::make_unique<SearchResponder>([d] {
    DeviceConfig c = d->Config();
    wire::SearchAnswerData a;
    a.device_id = c.device_id;
    a.name = c.name;
    a.address = c.address;
    a.version = c.version;
    a.device_type = c.device_type;
    a.channel_count = c.channel_count;
    a.flags = d->registered ? 1 : 0;
    a.port = d->acceptor.port();
    return a;
  });
  if (!d->responder->Start(address, port)) {
    d->responder.reset();
    return false;
  }
  return true;
}

uint16_t DeviceEngine::search_port() const {
  return m_impl->responder ? m_impl->responder->port() : 0;
}

}  // namespace octc::device
