#include "link.h"

#include <chrono>

#include "auth.h"
#include "directory_client.h"
#include "library.h"
#include "netio/socket.h"

namespace octc {
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kMaxQueuedJobs = 4096;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

std::string Unseal(const std::vector<uint8_t>& sealed) {
  CallbackSet cb = CurrentCallbacks();
  if (!cb.decrypt || sealed.empty()) return std::string(sealed.begin(), sealed.end());
  std::vector<uint8_t> out(sealed.size() + 64);
  int32_t n = cb.decrypt(sealed.data(), static_cast<int32_t>(sealed.size()), out.data(),
                         static_cast<int32_t>(out.size()));
  if (n < 0 || static_cast<size_t>(n) > out.size()) return {};
  return std::string(out.begin(), out.begin() + n);
}

}  // namespace

int32_t NextSubHandle() {
  static std::atomic<int32_t> next{1};
  int32_t h = next.fetch_add(1);
  while (h <= 0) {  // wrapped: start again from 1
    int32_t expected = h + 1;
    next.compare_exchange_strong(expected, 2);
    h = 1;
  }
  return h;
}

Link::Link(int32_t id, LinkParams params, Settings settings)
    : m_id(id), m_params(std::move(params)), m_settings(std::move(settings)) {}

Link::~Link() {
  Close();
  if (!OnOwnThread()) Join();
  if (m_reader.joinable()) m_reader.detach();
  if (m_dispatcher.joinable()) m_dispatcher.detach();
}

void Link::Start() {
  m_dispatcher = std::thread([this] { DispatcherMain(); });
  m_reader = std::thread([this] { ReaderMain(); });
}

bool Link::OnOwnThread() const {
  std::thread::id self = std::this_thread::get_id();
  return self == m_dispatcherId.load() || self == m_readerId.load();
}

void Link::Close() {
  if (m_closing.exchange(true)) return;
  std::shared_ptr<net::FrameConn> conn;
  {
    std::lock_guard<std::mutex> lock(m_connLock);
    conn = m_conn;
  }
  if (conn) {
    if (m_up) conn->Send(wire::Type::kBye, 0, 0, wire::Writer().I32(0).Take());
    conn->Shutdown();
  }
  m_up = false;
  FailPending(OCTC_ERR_LINK_LOST);
  std::lock_guard<std::mutex> lock(m_queueLock);
  m_queue.clear();
  m_queueCv.notify_all();
}

void Link::Join() {
  if (m_reader.joinable()) m_reader.join();
  if (m_dispatcher.joinable()) m_dispatcher.join();
}

void Link::Post(std::function<void()> job) {
  std::unique_lock<std::mutex> lock(m_queueLock);
  m_queueCv.wait(lock, [&] { return m_closing.load() || m_queue.size() < kMaxQueuedJobs; });
  if (m_closing) return;
  m_queue.push_back(std::move(job));
  m_queueCv.notify_all();
}

void Link::DispatcherMain() {
  m_dispatcherId = std::this_thread::get_id();
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(m_queueLock);
      m_queueCv.wait(lock, [&] { return m_closing.load() || !m_queue.empty() || m_readerDone; });
      if (m_closing) return;
      if (m_queue.empty()) break;
      job = std::move(m_queue.front());
      m_queue.pop_front();
      m_queueCv.notify_all();
    }
    job();
  }
  // The reader ended by itself and every report is out: the socket closes
  // now, and the library forgets the link.
  {
    std::lock_guard<std::mutex> lock(m_connLock);
    m_conn.reset();
  }
  Library::Instance().Ended(m_id, this);
}

int32_t Link::ResolveTarget(std::string* host, uint16_t* port) {
  if (!m_params.by_number) {
    *host = m_params.host;
    *port = m_params.port;
    return 0;
  }
  return DirectoryLookup(m_settings, m_params.host, host, port, &m_closing);
}

int32_t Link::Establish(wire::DevInfoData* info) {
  std::string host;
  uint16_t port = 0;
  int32_t rc = ResolveTarget(&host, &port);
  if (rc != 0) return rc;
  // The handshake is bounded by the request time-out, the link later by the keep-alive.
  netio::Fd fd = netio::ConnectTcp(host, port, m_settings.connect_timeout_ms,
                                   m_settings.request_timeout_ms, &m_closing);
  if (!fd.valid()) return OCTC_ERR_UNREACHABLE;
  std::shared_ptr<net::FrameConn> conn = std::make_shared<net::FrameConn>(std::move(fd));
  {
    std::lock_guard<std::mutex> lock(m_connLock);
    if (m_closing) return OCTC_ERR_FAILED;
    m_conn = conn;
  }
  const int wait = m_settings.request_timeout_ms;
  wire::Frame f;
  auto expect = [&](wire::Type type) -> int32_t {
    switch (net::ReadFrame(conn->fd(), wait, f)) {
      case net::ReadResult::kFrame: return f.header.type == type ? 0 : OCTC_ERR_PROTOCOL;
      case net::ReadResult::kIdle: return OCTC_ERR_TIMEOUT;
      case net::ReadResult::kMalformed: return OCTC_ERR_PROTOCOL;
      default: return OCTC_ERR_LINK_LOST;
    }
  };
  wire::Writer hello;
  hello.U16(wire::kVersion).U16(wire::kMinVersion).Text("octc");
  if (!conn->Send(wire::Type::kHello, 0, 0, hello.data())) return OCTC_ERR_LINK_LOST;
  if ((rc = expect(wire::Type::kChallenge)) != 0) return rc;
  wire::Reader cr(f.payload);
  uint16_t version = cr.U16();
  auth::Nonce nonce{};
  cr.Bytes(nonce.data(), nonce.size());
  if (!cr.AtEnd()) return OCTC_ERR_PROTOCOL;
  if (version < wire::kMinVersion || version > wire::kVersion) return OCTC_ERR_VERSION;
  auth::Digest digest{};
  if (!auth::MakeDigest(nonce, m_params.user, Unseal(m_params.sealed_password), digest))
    return OCTC_ERR_FAILED;
  wire::Writer login;
  login.Text(m_params.user).Bytes(digest.data(), digest.size());
  if (!conn->Send(wire::Type::kLogin, 0, 0, login.data())) return OCTC_ERR_LINK_LOST;
  if ((rc = expect(wire::Type::kLoginResult)) != 0) return rc;
  wire::Reader lr(f.payload);
  int32_t result = lr.I32();
  if (!lr.ok()) return OCTC_ERR_PROTOCOL;
  if (result != 0) return result < 0 ? result : OCTC_ERR_PROTOCOL;
  if (!wire::ReadDevInfo(lr, *info) || !lr.AtEnd()) return OCTC_ERR_PROTOCOL;
  netio::SetIoTimeouts(conn->fd(), m_settings.keepalive_timeout_ms);
  return 0;
}

void Link::ReaderMain() {
  m_readerId = std::this_thread::get_id();
  wire::DevInfoData info;
  int32_t rc = Establish(&info);
  auto finish = [this] {
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_readerDone = true;
    m_queueCv.notify_all();
  };
  const int32_t id = m_id;
  if (rc != 0) {
    if (!m_closing) {
      Post([id, rc] {
        CallbackSet cb = CurrentCallbacks();
        if (cb.conn) cb.conn(id, OCTC_CONN_RESULT, 0, rc, 0, 0, 0, nullptr);
      });
    }
    std::shared_ptr<net::FrameConn> conn;
    {
      std::lock_guard<std::mutex> lock(m_connLock);
      conn = m_conn;
    }
    if (conn) conn->Shutdown();
    finish();
    return;
  }
  m_up = true;
  Post([id, info] {
    CallbackSet cb = CurrentCallbacks();
    if (!cb.conn) return;
    OctDevInfo d{};
    d.device_id = info.device_id.c_str();
    d.name = info.name.c_str();
    d.version = info.version.c_str();
    d.device_type = info.device_type;
    d.channel_count = info.channel_count;
    d.stream_count = info.stream_count;
    d.client_limit = info.client_limit;
    cb.conn(id, OCTC_CONN_RESULT, 0, 0, 0, 0, 0, &d);
  });
  std::shared_ptr<net::FrameConn> conn = m_conn;
  int64_t lastRx = NowMs();
  int64_t lastPing = lastRx;
  const int tick = std::max(10, std::min(250, m_settings.keepalive_interval_ms / 2));
  int32_t reason = OCTC_ERR_LINK_LOST;
  wire::Frame f;
  net::FrameReader reader;
  while (!m_closing) {
    if (f.payload.capacity() == 0) f.payload = TakeBuffer();
    net::ReadResult r = reader.Read(conn->fd(), tick, f);
    if (m_closing) break;
    int64_t now = NowMs();
    // A ping every interval, also while data flows in: the device only hears
    // from us through pings and commands and drops a client that stays silent.
    if (now - lastPing >= m_settings.keepalive_interval_ms) {
      lastPing = now;
      conn->Send(wire::Type::kPing, 0, 0, {});
    }
    if (r == net::ReadResult::kIdle) {
      if (now - lastRx >= m_settings.keepalive_timeout_ms) break;
      continue;
    }
    if (r == net::ReadResult::kClosed) {
      reason = m_byeReceived ? 0 : OCTC_ERR_LINK_LOST;
      break;
    }
    if (r == net::ReadResult::kMalformed) {
      reason = OCTC_ERR_PROTOCOL;
      break;
    }
    if (r != net::ReadResult::kFrame) break;
    lastRx = now;
    if (!Handle(f)) {
      reason = OCTC_ERR_PROTOCOL;
      conn->Send(wire::Type::kError, 0, 0, wire::Writer().I32(reason).Text("malformed").Take());
      break;
    }
  }
  m_up = false;
  conn->Shutdown();
  FailPending(OCTC_ERR_LINK_LOST);
  if (!m_closing) {
    Post([this, id, reason] {
      {
        std::lock_guard<std::mutex> lock(m_subLock);
        m_subs.clear();
      }
      CallbackSet cb = CurrentCallbacks();
      if (cb.conn) cb.conn(id, OCTC_CONN_CLOSED, 0, reason, 0, 0, 0, nullptr);
    });
  }
  finish();
}

std::vector<uint8_t> Link::TakeBuffer() {
  std::lock_guard<std::mutex> lock(m_spareLock);
  if (m_spare.empty()) return {};
  std::vector<uint8_t> b = std::move(m_spare.back());
  m_spare.pop_back();
  return b;
}

void Link::Recycle(std::vector<uint8_t>&& buffer) {
  constexpr size_t kMaxSpare = 8;
  std::lock_guard<std::mutex> lock(m_spareLock);
  if (m_spare.size() < kMaxSpare) m_spare.push_back(std::move(buffer));
}

bool Link::FindSub(int32_t handle, SubKind* kind) {
  std::lock_guard<std::mutex> lock(m_subLock);
  auto it = m_subs.find(handle);
  if (it == m_subs.end()) return false;
  *kind = it->second;
  return true;
}

void Link::DropSub(int32_t handle) {
  std::lock_guard<std::mutex> lock(m_subLock);
  m_subs.erase(handle);
}

bool Link::HasSub(SubKind kind, int32_t handle) {
  SubKind k;
  return FindSub(handle, &k) && k == kind;
}

bool Link::Complete(wire::Frame& f) {
  std::lock_guard<std::mutex> lock(m_pendingLock);
  auto it = m_pending.find(f.header.seq);
  if (it == m_pending.end()) return true;  // late answer to a request that timed out
  const std::shared_ptr<Pending> p = std::move(it->second);
  m_pending.erase(it);
  p->done = true;
  p->reply = std::move(f.payload);
  p->cv.notify_one();
  return true;
}

void Link::FailPending(int32_t result) {
  std::lock_guard<std::mutex> lock(m_pendingLock);
  m_pendingOpen = false;
  for (auto& [seq, p] : m_pending) {
    p->done = true;
    p->result = result;
    p->cv.notify_one();
  }
  m_pending.clear();
}

bool Link::Handle(wire::Frame& f) {
  using wire::Type;
  const int32_t handle = f.header.handle;
  switch (f.header.type) {
    case Type::kPing: m_conn->Send(Type::kPong, 0, f.header.seq, {}); return true;
    case Type::kPong:
    case Type::kError: return true;
    case Type::kBye: m_byeReceived = true; return true;
    case Type::kDevInfoResp:
    case Type::kRecListResp:
    case Type::kConfigResp:
    case Type::kResult: return Complete(f);
    case Type::kNotice: {
      wire::Reader r(f.payload);
      int32_t type = r.I32();
      std::string_view body = r.Blob();
      if (!r.AtEnd()) return false;
      Post([id = m_id, type, data = std::string(body)] {
        CallbackSet cb = CurrentCallbacks();
        if (cb.notice) cb.notice(id, type, data.data(), static_cast<int32_t>(data.size()));
      });
      return true;
    }
    case Type::kState:
    case Type::kMediaInfo:
    case Type::kVideo:
    case Type::kAudio:
    case Type::kDownData:
    case Type::kChatData: {
      SubKind kind;
      if (handle <= 0) return false;
      if (!FindSub(handle, &kind)) return true;  // closed by the host meanwhile
      if (f.header.type == Type::kState) {
        wire::Reader r(f.payload);
        return HandleState(handle, kind, r);
      }
      return HandleData(f, kind);
    }
    default: return false;
  }
}

bool Link::HandleState(int32_t handle, SubKind kind, wire::Reader& r) {
  int32_t status = r.I32();
  int32_t result = r.I32();
  if (!r.AtEnd() || (status != OCTC_STATE_RESULT && status != OCTC_STATE_CLOSED)) return false;
  // A closed report ends every kind; a result report ends it when not 0 (a refused
  // stream or talk, a failed playback or download). A playback that reached its
  // end (result 0) keeps its handle so that it can seek back.
  const bool ends = status == OCTC_STATE_CLOSED || result != 0;
  // The handle is dropped when the report is delivered, after the data queued before it.
  Post([this, id = m_id, handle, kind, status, result, ends] {
    if (!HasSub(kind, handle)) return;  // closed by the host meanwhile
    if (ends) DropSub(handle);
    CallbackSet cb = CurrentCallbacks();
    OctStateCallback f = kind == SubKind::kStream ? cb.stream_state
                         : kind == SubKind::kVod  ? cb.vod_state
                         : kind == SubKind::kDown ? cb.down_state
                                                  : cb.chat_state;
    if (f) f(id, handle, status, result);
  });
  return true;
}

bool Link::HandleData(wire::Frame& f, SubKind kind) {
  using wire::Type;
  const int32_t handle = f.header.handle;
  wire::Reader r(f.payload);
  const bool media = kind == SubKind::kStream || kind == SubKind::kVod;
  auto dataCallback = [kind](const CallbackSet& cb) {
    return kind == SubKind::kStream ? cb.stream_data : cb.vod_data;
  };
  switch (f.header.type) {
    case Type::kMediaInfo: {
      OctMediaInfo m{};
      if (!media || !wire::ReadMediaInfo(r, m) || !r.AtEnd()) return false;
      Post([this, id = m_id, handle, kind, m, dataCallback] {
        if (!HasSub(kind, handle)) return;
        if (OctRecordCallback cb = dataCallback(CurrentCallbacks()))
          cb(id, handle, OCTC_DATA_MEDIA_INFO, &m);
      });
      return true;
    }
    case Type::kVideo: {
      int32_t type = r.I32();
      uint32_t ts = r.U32();
      if (!media || !r.ok() || type < OCTC_FRAME_KEY || type > OCTC_FRAME_B) return false;
      size_t offset = f.payload.size() - r.remaining();
      Post([this, id = m_id, handle, kind, type, ts, offset, data = std::move(f.payload),
            dataCallback]() mutable {
        if (HasSub(kind, handle)) {
          OctFrame fr{type, data.data() + offset, static_cast<int32_t>(data.size() - offset), ts};
          if (OctRecordCallback cb = dataCallback(CurrentCallbacks()))
            cb(id, handle, OCTC_DATA_VIDEO, &fr);
        }
        Recycle(std::move(data));
      });
      return true;
    }
    case Type::kAudio: {
      uint32_t ts = r.U32();
      if (!media || !r.ok()) return false;
      size_t offset = f.payload.size() - r.remaining();
      Post([this, id = m_id, handle, kind, ts, offset, data = std::move(f.payload), dataCallback] {
        if (!HasSub(kind, handle)) return;
        OctAudio a{data.data() + offset, static_cast<int32_t>(data.size() - offset), ts};
        if (OctRecordCallback cb = dataCallback(CurrentCallbacks()))
          cb(id, handle, OCTC_DATA_AUDIO, &a);
      });
      return true;
    }
    case Type::kDownData: {
      uint64_t total = r.U64();
      uint64_t received = r.U64();
      if (kind != SubKind::kDown || !r.ok()) return false;
      size_t offset = f.payload.size() - r.remaining();
      Post([this, id = m_id, handle, total, received, offset, data = std::move(f.payload)] {
        if (!HasSub(SubKind::kDown, handle)) return;
        OctDownData d{};
        d.handle = handle;
        d.data = data.data() + offset;
        d.size = static_cast<int32_t>(data.size() - offset);
        d.total = total;
        d.received = received;
        if (OctDownDataCallback cb = CurrentCallbacks().down_data) cb(id, handle, &d);
      });
      return true;
    }
    case Type::kChatData: {
      r.U32();
      r.U32();
      if (kind != SubKind::kChat || !r.ok()) return false;
      size_t offset = f.payload.size() - r.remaining();
      Post([this, id = m_id, handle, offset, data = std::move(f.payload)] {
        if (!HasSub(SubKind::kChat, handle)) return;
        if (OctChatDataCallback cb = CurrentCallbacks().chat_data)
          cb(id, handle, data.data() + offset, static_cast<int32_t>(data.size() - offset));
      });
      return true;
    }
    default: return false;
  }
}

int32_t Link::Request(wire::Type type, int32_t handle, const std::vector<uint8_t>& payload,
                      std::vector<uint8_t>* reply) {
  if (!m_up || payload.size() > wire::kMaxPayload) return OCTC_ERR_FAILED;
  auto p = std::make_shared<Pending>();
  uint32_t seq;
  {
    std::lock_guard<std::mutex> lock(m_pendingLock);
    if (!m_pendingOpen) return OCTC_ERR_LINK_LOST;
    seq = ++m_seq;
    if (seq == 0) seq = ++m_seq;
    m_pending[seq] = p;
  }
  std::shared_ptr<net::FrameConn> conn;
  {
    std::lock_guard<std::mutex> lock(m_connLock);
    conn = m_conn;
  }
  if (!conn || !conn->Send(type, handle, seq, payload)) {
    std::lock_guard<std::mutex> lock(m_pendingLock);
    m_pending.erase(seq);
    return OCTC_ERR_LINK_LOST;
  }
  std::unique_lock<std::mutex> lock(m_pendingLock);
  if (!p->cv.wait_for(lock, std::chrono::milliseconds(m_settings.request_timeout_ms),
                      [&] { return p->done; })) {
    m_pending.erase(seq);
    return OCTC_ERR_TIMEOUT;
  }
  if (p->result != 0) return p->result;
  *reply = std::move(p->reply);
  return 0;
}

bool Link::Send(wire::Type type, int32_t handle, const std::vector<uint8_t>& payload) {
  if (!m_up) return false;
  std::shared_ptr<net::FrameConn> conn;
  {
    std::lock_guard<std::mutex> lock(m_connLock);
    conn = m_conn;
  }
  return conn && conn->Send(type, handle, 0, payload);
}

int32_t Link::OpenSub(SubKind kind, wire::Type type, const std::vector<uint8_t>& payload) {
  if (!m_up) return OCTC_ERR_FAILED;
  int32_t handle = NextSubHandle();
  {
    std::lock_guard<std::mutex> lock(m_subLock);
    m_subs[handle] = kind;
  }
  if (!Send(type, handle, payload)) {
    DropSub(handle);
    return OCTC_ERR_LINK_LOST;
  }
  return handle;
}

int32_t Link::CloseSub(SubKind kind, int32_t handle, wire::Type type) {
  if (!HasSub(kind, handle)) return OCTC_ERR_FAILED;
  DropSub(handle);
  Send(type, handle, {});
  return 0;
}

}  // namespace octc
