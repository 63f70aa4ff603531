// The C interface of the client library: each export checks its arguments,
// finds its link, runs and converts; no C++ exception leaves it.
#include <octc/octc.h>

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "directory_client.h"
#include "library.h"
#include "netio/address.h"
#include "result_store.h"

using octc::Library;
using octc::Link;
using octc::SubKind;
namespace wire = octc::wire;

namespace {

template <typename F>
int32_t Guard(F f) {
  try {
    return f();
  } catch (const std::exception&) {
    return OCTC_ERR_FAILED;
  }
}

template <typename F>
int32_t WithLink(int32_t conn, F f) {
  return Guard([&]() -> int32_t {
    std::shared_ptr<Link> link = Library::Instance().Find(conn);
    if (!link) return OCTC_ERR_FAILED;
    return f(*link);
  });
}

int32_t ReadResult(const std::vector<uint8_t>& reply) {
  wire::Reader r(reply);
  int32_t result = r.I32();
  return r.AtEnd() ? result : OCTC_ERR_PROTOCOL;
}

int32_t StartLink(bool by_number, const char* host, int32_t port, const char* user,
                  const char* password) {
  return Guard([&]() -> int32_t {
    if (!host || !*host || !user || !password) return OCTC_ERR_FAILED;
    if (!by_number && (port <= 0 || port > 65535)) return OCTC_ERR_FAILED;
    octc::LinkParams p;
    p.by_number = by_number;
    p.host = host;
    p.port = static_cast<uint16_t>(by_number ? 0 : port);
    p.user = user;
    std::string pw(password);
    octc::CallbackSet cb = octc::CurrentCallbacks();
    if (cb.encrypt && !pw.empty()) {
      std::vector<uint8_t> out(pw.size() + 64);
      int32_t n =
          cb.encrypt(reinterpret_cast<const uint8_t*>(pw.data()), static_cast<int32_t>(pw.size()),
                     out.data(), static_cast<int32_t>(out.size()));
      if (n < 0 || static_cast<size_t>(n) > out.size()) return OCTC_ERR_FAILED;
      out.resize(static_cast<size_t>(n));
      p.sealed_password = std::move(out);
    } else {
      p.sealed_password.assign(pw.begin(), pw.end());
    }
    return Library::Instance().Connect(std::move(p));
  });
}

bool ModulesReady() {
  return Library::Instance().initialized();
}

}  // namespace

extern "C" {

int32_t octc_init_sdk(const char*, int32_t, const char*, int32_t, int32_t) {
  return Guard([] { return Library::Instance().Init() ? 0 : OCTC_ERR_FAILED; });
}

int32_t octc_enable_log(int32_t level, const char*, int32_t) {
  // The library writes no log files; the level is accepted for compatibility.
  return level >= 0 ? 0 : OCTC_ERR_FAILED;
}

// The default procedures copy the bytes unchanged: credentials held in memory
// pass through whatever procedures the host configures with octc_encrypt_config.
int32_t octc_default_encrypt_proc(const uint8_t* in, int32_t length, uint8_t* out,
                                  int32_t capacity) {
  if (length < 0 || (length > 0 && (!in || !out)) || capacity < length) return OCTC_ERR_FAILED;
  if (length > 0) std::memmove(out, in, static_cast<size_t>(length));
  return length;
}

int32_t octc_default_decrypt_proc(const uint8_t* in, int32_t length, uint8_t* out,
                                  int32_t capacity) {
  return octc_default_encrypt_proc(in, length, out, capacity);
}

int32_t octc_encrypt_config(OctCryptProc encrypt, OctCryptProc decrypt) {
  if (!encrypt != !decrypt) return OCTC_ERR_FAILED;
  octc::EditCallbacks([&](octc::CallbackSet& cb) {
    cb.encrypt = encrypt;
    cb.decrypt = decrypt;
  });
  return 0;
}

int32_t octc_register_callbacks(OctConnCallback onConn) {
  octc::EditCallbacks([&](octc::CallbackSet& cb) { cb.conn = onConn; });
  return 0;
}

int32_t octc_cmd_init_module(OctNoticeCallback onNotice) {
  if (!ModulesReady()) return OCTC_ERR_FAILED;
  octc::EditCallbacks([&](octc::CallbackSet& cb) { cb.notice = onNotice; });
  return 0;
}

int32_t octc_stream_init_module(OctStateCallback onState, OctRecordCallback onData) {
  if (!ModulesReady()) return OCTC_ERR_FAILED;
  octc::EditCallbacks([&](octc::CallbackSet& cb) {
    cb.stream_state = onState;
    cb.stream_data = onData;
  });
  return 0;
}

int32_t octc_vod_init_module(OctStateCallback onState, OctRecordCallback onData) {
  if (!ModulesReady()) return OCTC_ERR_FAILED;
  octc::EditCallbacks([&](octc::CallbackSet& cb) {
    cb.vod_state = onState;
    cb.vod_data = onData;
  });
  return 0;
}

int32_t octc_down_init_module(OctStateCallback onState, OctDownDataCallback onData) {
  if (!ModulesReady()) return OCTC_ERR_FAILED;
  octc::EditCallbacks([&](octc::CallbackSet& cb) {
    cb.down_state = onState;
    cb.down_data = onData;
  });
  return 0;
}

int32_t octc_chat_init_module(OctStateCallback onState, OctChatDataCallback onData) {
  if (!ModulesReady()) return OCTC_ERR_FAILED;
  octc::EditCallbacks([&](octc::CallbackSet& cb) {
    cb.chat_state = onState;
    cb.chat_data = onData;
  });
  return 0;
}

int32_t octc_chat_release_module(void) {
  octc::EditCallbacks(
      [](octc::CallbackSet& cb) { cb.chat_state = nullptr, cb.chat_data = nullptr; });
  return 0;
}

int32_t octc_down_release_module(void) {
  octc::EditCallbacks(
      [](octc::CallbackSet& cb) { cb.down_state = nullptr, cb.down_data = nullptr; });
  return 0;
}

int32_t octc_vod_release_module(void) {
  octc::EditCallbacks([](octc::CallbackSet& cb) { cb.vod_state = nullptr, cb.vod_data = nullptr; });
  return 0;
}

int32_t octc_stream_release_module(void) {
  octc::EditCallbacks(
      [](octc::CallbackSet& cb) { cb.stream_state = nullptr, cb.stream_data = nullptr; });
  return 0;
}

int32_t octc_cmd_release_module(void) {
  octc::EditCallbacks([](octc::CallbackSet& cb) { cb.notice = nullptr; });
  return 0;
}

int32_t octc_release_sdk(void) {
  return Guard([] { return Library::Instance().Release() ? 0 : OCTC_ERR_FAILED; });
}

int32_t octc_connect_by_hostname(const char* host, int32_t port, const char* user,
                                 const char* password, int32_t, int32_t, int32_t) {
  return StartLink(false, host, port, user, password);
}

int32_t octc_connect_by_nimbus(const char* cloudNumber, const char* user, const char* password,
                               int32_t, int32_t) {
  return StartLink(true, cloudNumber, 0, user, password);
}

int32_t octc_close_conn(int32_t conn) {
  return Guard([&] { return Library::Instance().Close(conn); });
}

int32_t octc_cmd_get_dev_info(int32_t conn, OctDevInfo* info) {
  if (!info) return OCTC_ERR_FAILED;
  return WithLink(conn, [&](Link& link) -> int32_t {
    std::vector<uint8_t> reply;
    int32_t rc = link.Request(wire::Type::kDevInfoReq, 0, {}, &reply);
    if (rc != 0) return rc;
    wire::Reader r(reply);
    int32_t result = r.I32();
    wire::DevInfoData d;
    if (!r.ok()) return OCTC_ERR_PROTOCOL;
    if (result != 0) return result < 0 ? result : OCTC_ERR_PROTOCOL;
    if (!wire::ReadDevInfo(r, d) || !r.AtEnd()) return OCTC_ERR_PROTOCOL;
    octc::ResultStore::Instance().PutDevInfo(d, info);
    return 0;
  });
}

int32_t octc_cmd_free_dev_info(OctDevInfo* info) {
  return Guard(
      [&] { return octc::ResultStore::Instance().FreeDevInfo(info) ? 0 : OCTC_ERR_FAILED; });
}

int32_t octc_stream_open(int32_t conn, int32_t channel, int32_t stream, int32_t, int32_t) {
  return WithLink(conn, [&](Link& link) {
    return link.OpenSub(SubKind::kStream, wire::Type::kStreamOpen,
                        wire::Writer().I32(channel).I32(stream).Take());
  });
}

int32_t octc_stream_close(int32_t conn, int32_t handle) {
  return WithLink(conn, [&](Link& link) {
    return link.CloseSub(SubKind::kStream, handle, wire::Type::kStreamClose);
  });
}

int32_t octc_stream_insert_keyframe(int32_t conn, int32_t handle) {
  return WithLink(conn, [&](Link& link) -> int32_t {
    if (!link.HasSub(SubKind::kStream, handle)) return OCTC_ERR_FAILED;
    std::vector<uint8_t> reply;
    int32_t rc = link.Request(wire::Type::kKeyFrameReq, handle, {}, &reply);
    return rc != 0 ? rc : ReadResult(reply);
  });
}

int32_t octc_chat_open(int32_t conn) {
  return WithLink(
      conn, [&](Link& link) { return link.OpenSub(SubKind::kChat, wire::Type::kChatOpen, {}); });
}

int32_t octc_chat_close(int32_t conn, int32_t handle) {
  return WithLink(conn, [&](Link& link) {
    return link.CloseSub(SubKind::kChat, handle, wire::Type::kChatClose);
  });
}

int32_t octc_chat_write(int32_t conn, int32_t handle, const void* data, int32_t size,
                        uint32_t timestampLow, uint32_t timestampHigh) {
  if (size < 0 || (size > 0 && !data) || static_cast<uint32_t>(size) > wire::kMaxPayload - 8)
    return OCTC_ERR_FAILED;
  return WithLink(conn, [&](Link& link) -> int32_t {
    if (!link.HasSub(SubKind::kChat, handle)) return OCTC_ERR_FAILED;
    wire::Writer w;
    w.U32(timestampLow).U32(timestampHigh).Bytes(data, static_cast<size_t>(size));
    return link.Send(wire::Type::kChatData, handle, w.data()) ? 0 : OCTC_ERR_LINK_LOST;
  });
}

int32_t octc_cmd_get_rec_file_list(int32_t conn, const OctRecQuery* query, OctRecList* list) {
  if (!query || !list) return OCTC_ERR_FAILED;
  return WithLink(conn, [&](Link& link) -> int32_t {
    wire::Writer w;
    wire::WriteRecQuery(w, *query);
    std::vector<uint8_t> reply;
    int32_t rc = link.Request(wire::Type::kRecListReq, 0, w.data(), &reply);
    if (rc != 0) return rc;
    wire::Reader r(reply);
    int32_t result = r.I32();
    uint32_t count = r.U32();
    if (!r.ok()) return OCTC_ERR_PROTOCOL;
    if (result != 0) return result < 0 ? result : OCTC_ERR_PROTOCOL;
    if (count > r.remaining() / wire::kMinRecItemSize) return OCTC_ERR_PROTOCOL;
    std::vector<wire::RecItemData> items(count);
    for (auto& it : items)
      if (!wire::ReadRecItem(r, it)) return OCTC_ERR_PROTOCOL;
    if (!r.AtEnd()) return OCTC_ERR_PROTOCOL;
    octc::ResultStore::Instance().PutRecList(items, list);
    return 0;
  });
}

int32_t octc_cmd_free_rec_file_list_result(OctRecList* list) {
  return Guard(
      [&] { return octc::ResultStore::Instance().FreeRecList(list) ? 0 : OCTC_ERR_FAILED; });
}

int32_t octc_vod_open(int32_t conn, const char* path, int32_t) {
  if (!path) return OCTC_ERR_FAILED;
  return WithLink(conn, [&](Link& link) {
    return link.OpenSub(SubKind::kVod, wire::Type::kVodOpen, wire::Writer().Text(path).Take());
  });
}

int32_t octc_vod_close(int32_t conn, int32_t handle) {
  return WithLink(conn, [&](Link& link) {
    return link.CloseSub(SubKind::kVod, handle, wire::Type::kVodClose);
  });
}

int32_t octc_vod_set_speed(int32_t conn, int32_t handle, int32_t speed) {
  switch (speed) {
    case -16:
    case -8:
    case -4:
    case -2:
    case 0:
    case 1:
    case 2:
    case 4:
    case 8:
    case 16: break;
    default: return OCTC_ERR_FAILED;
  }
  return WithLink(conn, [&](Link& link) -> int32_t {
    if (!link.HasSub(SubKind::kVod, handle)) return OCTC_ERR_FAILED;
    std::vector<uint8_t> reply;
    int32_t rc =
        link.Request(wire::Type::kVodSpeedReq, handle, wire::Writer().I32(speed).Take(), &reply);
    return rc != 0 ? rc : ReadResult(reply);
  });
}

int32_t octc_vod_skip_to(int32_t conn, int32_t handle, int32_t positionMs) {
  if (positionMs < 0) return OCTC_ERR_FAILED;
  return WithLink(conn, [&](Link& link) -> int32_t {
    if (!link.HasSub(SubKind::kVod, handle)) return OCTC_ERR_FAILED;
    std::vector<uint8_t> reply;
    int32_t rc = link.Request(wire::Type::kVodSkipReq, handle,
                              wire::Writer().I32(positionMs).Take(), &reply);
    return rc != 0 ? rc : ReadResult(reply);
  });
}

int32_t octc_down_open(int32_t conn, const char* path, int32_t) {
  if (!path) return OCTC_ERR_FAILED;
  return WithLink(conn, [&](Link& link) {
    return link.OpenSub(SubKind::kDown, wire::Type::kDownOpen, wire::Writer().Text(path).Take());
  });
}

int32_t octc_down_close(int32_t conn, int32_t handle) {
  return WithLink(conn, [&](Link& link) {
    return link.CloseSub(SubKind::kDown, handle, wire::Type::kDownClose);
  });
}

int32_t octc_cmd_send_notify(int32_t conn, int32_t type, const void* data, int32_t length) {
  if (length < 0 || (length > 0 && !data) || static_cast<uint32_t>(length) > wire::kMaxPayload - 8)
    return OCTC_ERR_FAILED;
  return WithLink(conn, [&](Link& link) -> int32_t {
    wire::Writer w;
    w.I32(type).Blob(data, static_cast<size_t>(length));
    return link.Send(wire::Type::kNotice, 0, w.data()) ? 0 : OCTC_ERR_LINK_LOST;
  });
}

int32_t octc_cmd_remote_config(int32_t conn, int32_t, const OctBuffer* request,
                               OctBuffer* response) {
  if (!request || !response || request->length < 0 || (request->length > 0 && !request->text) ||
      static_cast<uint32_t>(request->length) > wire::kMaxPayload - 4)
    return OCTC_ERR_FAILED;
  return WithLink(conn, [&](Link& link) -> int32_t {
    wire::Writer w;
    w.Blob(request->text, static_cast<size_t>(request->length));
    std::vector<uint8_t> reply;
    int32_t rc = link.Request(wire::Type::kConfigReq, 0, w.data(), &reply);
    if (rc != 0) return rc;
    wire::Reader r(reply);
    int32_t result = r.I32();
    std::string_view text = r.Blob();
    if (!r.AtEnd()) return OCTC_ERR_PROTOCOL;
    if (result != 0) return result < 0 ? result : OCTC_ERR_PROTOCOL;
    octc::ResultStore::Instance().PutBuffer(text, response);
    return 0;
  });
}

int32_t octc_cmd_free_remote_config_result(OctBuffer* response) {
  return Guard(
      [&] { return octc::ResultStore::Instance().FreeBuffer(response) ? 0 : OCTC_ERR_FAILED; });
}

int32_t octc_get_dev_online_status(int32_t count, const char** numbers, OctOnlineStatus** status) {
  if (count <= 0 || count > 4096 || !numbers || !status) return OCTC_ERR_FAILED;
  return Guard([&]() -> int32_t {
    std::vector<std::string> list;
    for (int32_t i = 0; i < count; ++i) {
      if (!numbers[i]) return OCTC_ERR_FAILED;
      list.emplace_back(numbers[i]);
    }
    std::vector<OctOnlineStatus> entries;
    int32_t rc = octc::DirectoryStatus(octc::CurrentSettings(), list, &entries);
    if (rc < 0) return rc;
    *status = octc::ResultStore::Instance().PutOnline(std::move(entries));
    return rc;
  });
}

int32_t octc_free_dev_online_status(OctOnlineStatus* status) {
  return Guard(
      [&] { return octc::ResultStore::Instance().FreeOnline(status) ? 0 : OCTC_ERR_FAILED; });
}

int32_t octc_start_search_device_service(int32_t localPort, int32_t remotePort, int32_t,
                                         OctSearchCallback onResult) {
  if (localPort < 0 || localPort > 65535 || remotePort <= 0 || remotePort > 65535)
    return OCTC_ERR_FAILED;
  return Guard([&] {
    return Library::Instance().StartSearch(static_cast<uint16_t>(localPort),
                                           static_cast<uint16_t>(remotePort), onResult);
  });
}

int32_t octc_search_device(int32_t, int32_t timeoutMs) {
  return Guard([&] { return Library::Instance().Search(timeoutMs); });
}

int32_t octc_stop_search_device_service(void) {
  return Guard([] { return Library::Instance().StopSearch(); });
}

int32_t octc_set_directory(const char* address, int32_t port) {
  uint32_t a = 0;
  if (!address || port <= 0 || port > 65535 || !netio::ResolveIpv4(address, &a))
    return OCTC_ERR_FAILED;
  return Guard([&] {
    octc::Settings s = octc::CurrentSettings();
    s.directory_host = address;
    s.directory_port = static_cast<uint16_t>(port);
    octc::UpdateSettings(s);
    return 0;
  });
}

int32_t octc_set_search_target(const char* target, int32_t port, const char* local) {
  uint32_t a = 0;
  if (!target || !local || port < 0 || port > 65535 || !netio::ResolveIpv4(target, &a) ||
      !netio::ResolveIpv4(local, &a))
    return OCTC_ERR_FAILED;
  return Guard([&] {
    octc::Settings s = octc::CurrentSettings();
    s.search_target = target;
    s.search_port = static_cast<uint16_t>(port);
    s.search_local = local;
    octc::UpdateSettings(s);
    return 0;
  });
}

int32_t octc_set_timeouts(int32_t interval_ms, int32_t timeout_ms, int32_t request_ms) {
  if (interval_ms < 0 || timeout_ms < 0 || request_ms < 0) return OCTC_ERR_FAILED;
  octc::Settings s = octc::CurrentSettings();
  if (interval_ms) s.keepalive_interval_ms = interval_ms;
  if (timeout_ms) s.keepalive_timeout_ms = timeout_ms;
  if (request_ms) s.request_timeout_ms = request_ms;
  if (s.keepalive_timeout_ms <= s.keepalive_interval_ms) return OCTC_ERR_FAILED;
  octc::UpdateSettings(s);
  return 0;
}

}  // extern "C"
