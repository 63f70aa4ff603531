#include <chrono>

#include "auth.h"
#include "device_internal.h"
#include "messages.h"
#include "netio/socket.h"

namespace octc::device {
namespace {

using wire::Type;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

wire::DevInfoData InfoOf(const DeviceConfig& c) {
  wire::DevInfoData d;
  d.device_id = c.device_id;
  d.name = c.name;
  d.version = c.version;
  d.device_type = c.device_type;
  d.channel_count = c.channel_count;
  d.stream_count = c.stream_count;
  d.client_limit = c.client_limit;
  return d;
}

}  // namespace

Session::Session(uint64_t id, netio::Fd fd, DeviceEngine::Impl& engine)
    : m_id(id), m_engine(engine), m_conn(std::make_shared<net::FrameConn>(std::move(fd))) {}

Session::~Session() {
  Join();
}

void Session::Start() {
  m_thread = std::thread([this] { Main(); });
}

void Session::Join() {
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

void Session::Delay() {
  int ms = m_engine.delay_ms.load();
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool Session::Answer(Type type, uint32_t seq, int32_t handle, const std::vector<uint8_t>& payload) {
  if (m_engine.silent) return true;
  return m_conn->Send(type, handle, seq, payload);
}

bool Session::State(int32_t handle, int32_t status, int32_t result) {
  return Answer(Type::kState, 0, handle, wire::Writer().I32(status).I32(result).Take());
}

bool Session::AddSub(int32_t handle, Sub sub) {
  std::lock_guard<std::mutex> lock(m_lock);
  return handle > 0 && m_subs.emplace(handle, sub).second;
}

bool Session::RemoveSub(int32_t handle, SubKind kind) {
  std::lock_guard<std::mutex> lock(m_lock);
  auto it = m_subs.find(handle);
  if (it == m_subs.end() || it->second.kind != kind) return false;
  m_subs.erase(it);
  return true;
}

bool Session::HasSub(int32_t handle, SubKind kind) {
  std::lock_guard<std::mutex> lock(m_lock);
  auto it = m_subs.find(handle);
  return it != m_subs.end() && it->second.kind == kind;
}

void Session::MarkReady(int32_t handle) {
  std::lock_guard<std::mutex> lock(m_lock);
  auto it = m_subs.find(handle);
  if (it != m_subs.end()) it->second.ready = true;
}

bool Session::SendOn(int32_t handle, SubKind kind, Type type, const std::vector<uint8_t>& payload,
                     bool close_after) {
  if (close_after ? !RemoveSub(handle, kind) : !HasSub(handle, kind)) return false;
  if (m_engine.silent) return true;
  return m_conn->Send(type, handle, 0, payload);
}

bool Session::SendOnGather(int32_t handle, SubKind kind, Type type,
                           const std::vector<uint8_t>& prefix, const uint8_t* data, size_t size) {
  if (!HasSub(handle, kind)) return false;
  if (m_engine.silent) return true;
  return m_conn->SendGather(type, handle, 0, prefix, data, size);
}

std::vector<int32_t> Session::StreamsOf(int32_t channel, int32_t stream) {
  std::vector<int32_t> out;
  std::lock_guard<std::mutex> lock(m_lock);
  for (auto& [h, s] : m_subs)
    if (s.kind == SubKind::kStream && s.ready && s.channel == channel && s.stream == stream)
      out.push_back(h);
  return out;
}

void Session::CloseAllSubs() {
  std::map<int32_t, Sub> subs;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    subs.swap(m_subs);
  }
  DeviceHandler& h = *m_engine.handler;
  for (auto& [handle, s] : subs) {
    SubRef ref{m_id, handle};
    switch (s.kind) {
      case SubKind::kStream: h.OnStreamClosed(ref); break;
      case SubKind::kVod: h.OnPlaybackClosed(ref); break;
      case SubKind::kDown: h.OnDownloadClosed(ref); break;
      case SubKind::kChat: h.OnTalkClosed(ref); break;
    }
  }
}

bool Session::Login() {
  DeviceConfig c = m_engine.Config();
  netio::SetIoTimeouts(m_conn->fd(), c.keepalive_timeout_ms);
  wire::Frame f;
  if (net::ReadFrame(m_conn->fd(), c.keepalive_timeout_ms, f) != net::ReadResult::kFrame ||
      f.header.type != Type::kHello)
    return false;
  wire::Reader hr(f.payload);
  uint16_t version = hr.U16();
  uint16_t min_version = hr.U16();
  hr.Text();
  if (!hr.AtEnd()) return false;
  if (min_version > wire::kVersion || version < wire::kMinVersion) {
    m_conn->Send(Type::kError, 0, 0, wire::Writer().I32(OCTC_ERR_VERSION).Text("version").Take());
    return false;
  }
  auth::Nonce nonce{};
  if (!auth::MakeNonce(nonce)) return false;
  wire::Writer ch;
  ch.U16(wire::kVersion).Bytes(nonce.data(), nonce.size());
  if (!m_conn->Send(Type::kChallenge, 0, 0, ch.data())) return false;
  if (net::ReadFrame(m_conn->fd(), c.keepalive_timeout_ms, f) != net::ReadResult::kFrame ||
      f.header.type != Type::kLogin)
    return false;
  wire::Reader lr(f.payload);
  std::string user = lr.Text();
  auth::Digest got{};
  lr.Bytes(got.data(), got.size());
  if (!lr.AtEnd()) return false;
  Delay();
  c = m_engine.Config();
  auth::Digest want{};
  int32_t result = 0;
  if (!auth::MakeDigest(nonce, c.user, c.password, want) || user != c.user ||
      !auth::DigestEqual(got, want)) {
    result = OCTC_ERR_AUTH;
  } else if (m_engine.TryLogin(*this, &result)) {
    m_loggedIn = true;  // counted by TryLogin; uncounted when the session ends
  }
  wire::Writer w;
  w.I32(result);
  if (result == 0) wire::WriteDevInfo(w, InfoOf(c));
  bool sent = m_conn->Send(Type::kLoginResult, 0, 0, w.data());
  return result == 0 && sent;
}

void Session::Main() {
  if (Login()) {
    m_engine.handler->OnSessionOpened(m_id);
    const int timeout = m_engine.Config().keepalive_timeout_ms;
    int64_t lastRx = NowMs();
    wire::Frame f;
    while (!m_engine.stop) {
      net::ReadResult r = net::ReadFrame(m_conn->fd(), 200, f);
      if (r == net::ReadResult::kIdle) {
        if (NowMs() - lastRx >= timeout) break;  // the client fell silent
        continue;
      }
      if (r != net::ReadResult::kFrame) break;
      lastRx = NowMs();
      if (!Serve(f)) break;
    }
    CloseAllSubs();
    m_engine.handler->OnSessionClosed(m_id);
  }
  m_conn->Shutdown();
  {
    std::lock_guard<std::mutex> lock(m_engine.lock);
    if (m_loggedIn.exchange(false)) --m_engine.logged_in;
  }
  m_done = true;
}

bool Session::Serve(wire::Frame& f) {
  DeviceHandler& h = *m_engine.handler;
  const int32_t handle = f.header.handle;
  const uint32_t seq = f.header.seq;
  wire::Reader r(f.payload);
  auto bad = [&] {
    m_conn->Send(Type::kError, 0, 0,
                 wire::Writer().I32(OCTC_ERR_PROTOCOL).Text("malformed").Take());
    return false;
  };
  switch (f.header.type) {
    case Type::kPing: return Answer(Type::kPong, seq, 0, {});
    case Type::kPong:
    case Type::kError: return true;
    case Type::kBye: return false;
    case Type::kDevInfoReq: {
      if (!r.AtEnd()) return bad();
      Delay();
      wire::Writer w;
      w.I32(0);
      wire::WriteDevInfo(w, InfoOf(m_engine.Config()));
      return Answer(Type::kDevInfoResp, seq, 0, w.data());
    }
    case Type::kRecListReq: {
      OctRecQuery q{};
      if (!wire::ReadRecQuery(r, q) || !r.AtEnd()) return bad();
      Delay();
      DeviceConfig c = m_engine.Config();
      wire::Writer w;
      bool corrupt = false;
      {
        std::lock_guard<std::mutex> lock(m_engine.lock);
        std::swap(corrupt, m_engine.corrupt_next_list);
      }
      if (corrupt) {
        w.I32(0).U32(1000000);
      } else if (q.channel < 1 || q.channel > c.channel_count) {
        w.I32(OCTC_ERR_NO_CHANNEL).U32(0);
      } else {
        std::vector<RecordEntry> list = h.OnRecordList(q);
        w.I32(0).U32(static_cast<uint32_t>(list.size()));
        for (const RecordEntry& e : list) {
          wire::RecItemData d;
          d.name = e.name;
          d.path = e.path;
          d.channel = e.channel;
          d.kind = e.kind;
          d.year = e.year;
          d.month = e.month;
          d.day = e.day;
          d.hour = e.hour;
          d.minute = e.minute;
          d.second = e.second;
          d.duration_s = e.duration_s;
          d.size = e.size;
          wire::WriteRecItem(w, d);
        }
      }
      return Answer(Type::kRecListResp, seq, 0, w.data());
    }
    case Type::kConfigReq: {
      std::string_view text = r.Blob();
      if (!r.AtEnd()) return bad();
      const bool refused = m_engine.config_refused;
      std::string answer = refused ? std::string() : h.OnRemoteConfig(m_id, std::string(text));
      Delay();
      wire::Writer w;
      w.I32(refused ? OCTC_ERR_REFUSED : 0).Blob(answer.data(), answer.size());
      return Answer(Type::kConfigResp, seq, 0, w.data());
    }
    case Type::kNotice: {
      int32_t type = r.I32();
      std::string_view body = r.Blob();
      if (!r.AtEnd()) return bad();
      h.OnNotice(m_id, type, std::string(body));
      return true;
    }
    case Type::kKeyFrameReq: {
      if (!r.AtEnd()) return bad();
      int32_t rc =
          HasSub(handle, SubKind::kStream) ? h.OnKeyFrameRequest({m_id, handle}) : OCTC_ERR_FAILED;
      Delay();
      return Answer(Type::kResult, seq, handle, wire::Writer().I32(rc).Take());
    }
    case Type::kVodSpeedReq:
    case Type::kVodSkipReq: {
      int32_t value = r.I32();
      if (!r.AtEnd()) return bad();
      int32_t rc = OCTC_ERR_FAILED;
      if (HasSub(handle, SubKind::kVod))
        rc = f.header.type == Type::kVodSpeedReq ? h.OnPlaybackSpeed({m_id, handle}, value)
                                                 : h.OnPlaybackSkip({m_id, handle}, value);
      Delay();
      return Answer(Type::kResult, seq, handle, wire::Writer().I32(rc).Take());
    }
    case Type::kStreamOpen: {
      int32_t channel = r.I32();
      int32_t stream = r.I32();
      if (!r.AtEnd() || handle <= 0) return bad();
      DeviceConfig c = m_engine.Config();
      Delay();
      if (channel < 1 || channel > c.channel_count || stream < 0 || stream >= c.stream_count)
        return State(handle, OCTC_STATE_RESULT, OCTC_ERR_NO_CHANNEL);
      if (!AddSub(handle, {SubKind::kStream, channel, stream, false})) return bad();
      if (!State(handle, OCTC_STATE_RESULT, 0)) return false;
      OctMediaInfo m{};
      bool have = false;
      {
        std::lock_guard<std::mutex> lock(m_engine.lock);
        auto it = m_engine.media.find({channel, stream});
        if (it != m_engine.media.end()) {
          m = it->second;
          have = true;
        }
      }
      if (have) {
        wire::Writer w;
        wire::WriteMediaInfo(w, m);
        SendOn(handle, SubKind::kStream, Type::kMediaInfo, w.data());
      }
      MarkReady(handle);
      h.OnStreamOpened({m_id, handle}, channel, stream);
      return true;
    }
    case Type::kVodOpen:
    case Type::kDownOpen: {
      std::string path = r.Text();
      if (!r.AtEnd() || handle <= 0) return bad();
      const bool vod = f.header.type == Type::kVodOpen;
      const SubKind kind = vod ? SubKind::kVod : SubKind::kDown;
      if (!AddSub(handle, {kind, 0, 0})) return bad();
      bool ok =
          vod ? h.OnPlaybackOpen({m_id, handle}, path) : h.OnDownloadOpen({m_id, handle}, path);
      if (!ok && RemoveSub(handle, kind)) return State(handle, OCTC_STATE_RESULT, OCTC_ERR_REFUSED);
      return true;
    }
    case Type::kChatOpen: {
      if (!r.AtEnd() || handle <= 0) return bad();
      if (!AddSub(handle, {SubKind::kChat, 0, 0})) return bad();
      int32_t rc = h.OnTalkOpen({m_id, handle});
      Delay();
      if (rc != 0) RemoveSub(handle, SubKind::kChat);
      return State(handle, OCTC_STATE_RESULT, rc);
    }
    case Type::kChatData: {
      uint64_t lo = r.U32();
      uint64_t hi = r.U32();
      std::string_view data = r.Rest();
      if (!r.ok()) return bad();
      if (HasSub(handle, SubKind::kChat))
        h.OnTalkData({m_id, handle}, reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                     lo | (hi << 32));
      return true;
    }
    case Type::kStreamClose:
      if (RemoveSub(handle, SubKind::kStream)) h.OnStreamClosed({m_id, handle});
      return true;
    case Type::kVodClose:
      if (RemoveSub(handle, SubKind::kVod)) h.OnPlaybackClosed({m_id, handle});
      return true;
    case Type::kDownClose:
      if (RemoveSub(handle, SubKind::kDown)) h.OnDownloadClosed({m_id, handle});
      return true;
    case Type::kChatClose:
      if (RemoveSub(handle, SubKind::kChat)) h.OnTalkClosed({m_id, handle});
      return true;
    default: return bad();
  }
}

}  // namespace octc::device
