#include "support/fake_libraries.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <type_traits>

namespace qcsdk::test {
namespace {

std::atomic<FakeLibraries*> g_current{nullptr};

template <std::size_t N>
struct Name {
  constexpr Name(const char (&text)[N]) { std::copy_n(text, N, value); }
  char value[N];
};

// A call's argument as the call records it: texts quoted, the packager's
// records by their fields (what the SDK hands over), other pointers as ptr.
template <class T>
void Append(std::ostringstream& out, T value) {
  if constexpr (std::is_pointer_v<T>) {
    if (value == nullptr) {
      out << "null";
      return;
    }
  }
  if constexpr (std::is_same_v<T, const char*>) {
    out << '"' << value << '"';
  } else if constexpr (std::is_same_v<T, const QP_VideoDesc*>) {
    out << '{' << value->width << 'x' << value->height << ' ' << value->frameRate << '}';
  } else if constexpr (std::is_same_v<T, const QP_Frame*>) {
    out << '{' << value->kind << ' ' << value->length << ' ' << value->timestamp << '}';
  } else if constexpr (std::is_pointer_v<T>) {
    out << "ptr";
  } else if constexpr (std::is_floating_point_v<T>) {
    out << value;
  } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
    out << static_cast<int64_t>(value);
  } else {
    out << "record";
  }
}

template <class... A>
int64_t FirstInteger(A... args) {
  int64_t first = 0;
  bool found = false;
  [[maybe_unused]] const auto take = [&](auto value) {
    if constexpr (std::is_integral_v<decltype(value)>) {
      if (!found) first = static_cast<int64_t>(value);
      found = true;
    }
  };
  (take(args), ...);
  return first;
}

// One recording operation per library function: records the call and
// answers the result the test set, or `kDefault`.
template <Name kName, class Fn, long long kDefault>
struct Op;

template <Name kName, class R, class... A, long long kDefault>
struct Op<kName, R (*)(A...), kDefault> {
  static R Call(A... args) {
    std::ostringstream call;
    call << kName.value << '(';
    bool first = true;
    ((call << (first ? "" : ", "), Append(call, args), first = false), ...);
    call << ')';
    FakeLibraries& fake = FakeLibraries::Current();
    const int64_t firstArg = FirstInteger(args...);
    fake.Record(kName.value, call.str());
    const int64_t result = fake.ResultFor(kName.value, firstArg, kDefault);
    if constexpr (std::is_void_v<R>) {
      return;
    } else if constexpr (std::is_pointer_v<R>) {
      return reinterpret_cast<R>(static_cast<intptr_t>(result));
    } else {
      return static_cast<R>(result);
    }
  }
};

// The bytes a call hands over (none for a null pointer or no length).
std::vector<uint8_t> Copy(const void* data, int32_t length) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  return bytes != nullptr && length > 0 ? std::vector<uint8_t>(bytes, bytes + length)
                                        : std::vector<uint8_t>();
}

#define FAKE(fn, result) (&Op<#fn, decltype(&fn), (result)>::Call)

}  // namespace

// The operations that keep what a call hands over in the fake.
struct FakeOps {
  // Runs edit on the current fake under its lock.
  template <class Edit>
  static void Keep(Edit edit) {
    FakeLibraries& fake = FakeLibraries::Current();
    std::lock_guard<std::mutex> guard(fake.m_mutex);
    edit(fake);
  }

  static int32_t RegisterNxl(QVC_ConnectCallback a, QVC_StreamCallback b, QVC_FileListCallback c,
                             QVC_TalkCallback d, QVC_TextCallback e, QVC_DownloadCallback f,
                             QVC_StreamCallback g) {
    Keep([&](FakeLibraries& k) { k.m_nxl = {a, b, c, d, e, f, g}; });
    return FAKE(QVC_RegisterCallBack, 1)(a, b, c, d, e, f, g);
  }
  static int32_t StartLanSearch(int32_t localPort, int32_t remotePort, QVC_SearchCallback cb,
                                int32_t mode) {
    Keep([&](FakeLibraries& k) { k.m_discovery.nxlSearch = cb; });
    return FAKE(QVC_StartLANSerchServer, 1)(localPort, remotePort, cb, mode);
  }
  static int32_t StartBroadcast(int32_t localPort, int32_t remotePort, QVC_BroadcastCallback cb) {
    Keep([&](FakeLibraries& k) { k.m_discovery.broadcast = cb; });
    return FAKE(QVC_StartBroadcastServer, 1)(localPort, remotePort, cb);
  }
  static int32_t StartOctSearch(int32_t localPort, int32_t remotePort, int32_t reserved,
                                OctSearchCallback cb) {
    Keep([&](FakeLibraries& k) { k.m_discovery.octSearch = cb; });
    return FAKE(octc_start_search_device_service, 0)(localPort, remotePort, reserved, cb);
  }
  static int32_t SetPictureCallback(QVSP_PictureCallback cb, void* r1, void* r2, void* r3) {
    Keep([&](FakeLibraries& k) { k.m_picture = cb; });
    return FAKE(QVSP_SetCallBack, 1)(cb, r1, r2, r3);
  }
  static int32_t CreatePlayer() {
    const int64_t handle = FAKE(QVSP_CreatePlayer, 0)();
    // Unless the test set a result, every player gets a new handle from 1 up.
    return static_cast<int32_t>(handle != 0 ? handle : ++FakeLibraries::Current().m_nextHandle);
  }
  static int32_t GetBitmapSize(int32_t player, int32_t* width, int32_t* height) {
    const auto [w, h] = FakeLibraries::Current().BitmapSize();
    if (w > 0 && width != nullptr && height != nullptr) {
      *width = w;
      *height = h;
    }
    return FAKE(QVSP_GetBitmapSize, 1)(player, width, height);
  }
  static int32_t SendData(int32_t link, int32_t type, const void* data, int32_t length) {
    Keep([&](FakeLibraries& k) { k.m_sent.push_back({link, type, Copy(data, length)}); });
    return FAKE(QVC_SendData, 1)(link, type, data, length);
  }
  static int32_t BroadcastOnce(int32_t id, const void* message, int32_t length, int32_t timeoutMs) {
    Keep([&](FakeLibraries& k) { k.m_sent.push_back({id, timeoutMs, Copy(message, length)}); });
    return FAKE(QVC_BroadcastOnce, 1)(id, message, length, timeoutMs);
  }

  static int32_t OctRegister(OctConnCallback cb) {
    Keep([&](FakeLibraries& k) { k.m_oct.conn = cb; });
    return FAKE(octc_register_callbacks, 0)(cb);
  }
  static int32_t OctCmdInit(OctNoticeCallback cb) {
    Keep([&](FakeLibraries& k) { k.m_oct.notice = cb; });
    return FAKE(octc_cmd_init_module, 0)(cb);
  }
  // A module's set-up call: keeps its state and data callbacks.
  template <Name kName, auto kState, auto kData, class D>
  static int32_t Module(OctStateCallback state, D data) {
    Keep([&](FakeLibraries& k) {
      k.m_oct.*kState = state;
      k.m_oct.*kData = data;
    });
    return Op<kName, int32_t (*)(OctStateCallback, D), 0>::Call(state, data);
  }
  static int32_t OctGetDevInfo(int32_t conn, OctDevInfo* info) {
    const int32_t r = FAKE(octc_cmd_get_dev_info, 0)(conn, info);
    Keep([&](FakeLibraries& k) {
      if (r != 0 || info == nullptr || k.m_devType < 0) return;
      info->device_id = "100200300";
      info->name = "fake device";
      info->version = nullptr;
      info->device_type = k.m_devType;
      info->channel_count = 4;
    });
    return r;
  }
  static int32_t OctGetRecList(int32_t conn, const OctRecQuery* query, OctRecList* list) {
    const int32_t r = FAKE(octc_cmd_get_rec_file_list, 0)(conn, query, list);
    Keep([&](FakeLibraries& k) {
      if (r < 0) return;
      if (query != nullptr) k.m_lastQuery = *query;
      if (list == nullptr) return;
      k.m_recItems.clear();
      for (const FakeLibraries::OctRecording& from : k.m_recordings) {
        OctRecItem& item = k.m_recItems.emplace_back();
        item.name = from.name.c_str();
        item.path = from.path.c_str();
        item.hour = from.hour;
        item.minute = from.minute;
        item.second = from.second;
      }
      list->count = static_cast<int32_t>(k.m_recItems.size());
      list->items = k.m_recItems.empty() ? nullptr : k.m_recItems.data();
    });
    return r;
  }
  static int32_t OctSendNotify(int32_t conn, int32_t type, const void* data, int32_t length) {
    Keep([&](FakeLibraries& k) { k.m_notices.push_back(Copy(data, length)); });
    return FAKE(octc_cmd_send_notify, 0)(conn, type, data, length);
  }
  static int32_t OctRemoteConfig(int32_t conn, int32_t reserved, const OctBuffer* request,
                                 OctBuffer* response) {
    const int32_t r = FAKE(octc_cmd_remote_config, 0)(conn, reserved, request, response);
    if (r < 0) return r;
    const std::string text =
        request != nullptr && request->text != nullptr && request->length > 0
            ? std::string(request->text, static_cast<std::size_t>(request->length))
            : std::string();
    FakeLibraries& fake = FakeLibraries::Current();
    const auto handler = fake.Get(fake.m_configHandler);
    const std::string answer = handler ? handler(text) : std::string();
    Keep([&](FakeLibraries& k) {
      if (!text.empty()) k.m_configRequests.push_back(text);
      if (handler) {
        k.m_currentResponse = answer;
      } else if (!k.m_queuedResponses.empty()) {
        k.m_currentResponse = k.m_queuedResponses.front();
        k.m_queuedResponses.erase(k.m_queuedResponses.begin());
      } else {
        k.m_currentResponse.clear();
      }
      if (response != nullptr) {
        response->text = k.m_currentResponse.c_str();
        response->length = static_cast<int32_t>(k.m_currentResponse.size());
      }
    });
    return r;
  }
};

namespace {

using Cb = FakeLibraries::OctCallbacks;

const platform::NxlApi kNxl{FAKE(QVC_InitSDK, 1),
                            FAKE(QVC_SetLocalFilePath, 1),
                            &FakeOps::RegisterNxl,
                            FAKE(QVC_EnableHelp, 1),
                            FAKE(QVC_ReleaseSDK, 1),
                            FAKE(QVC_SetLocalNetCard, 1),
                            FAKE(QVC_Connect, 1),
                            FAKE(QVC_DisConnect, 1),
                            &FakeOps::SendData,
                            FAKE(QVC_WANGetChannelCount, 1),
                            FAKE(QVC_EnableSearchCache, 0),
                            &FakeOps::StartLanSearch,
                            FAKE(QVC_LANSerchDevice, 1),
                            FAKE(QVC_StopLANSerchServer, 0),
                            &FakeOps::StartBroadcast,
                            FAKE(QVC_StopBroadcastServer, 1),
                            &FakeOps::BroadcastOnce,
                            FAKE(QVC_SetBroadcastTarget, 1)};

const platform::PlayerApi kPlayer{
    FAKE(QVSP_InitSDK, 1),         FAKE(QVSP_ReleaseSDK, 1),
    &FakeOps::SetPictureCallback,  &FakeOps::CreatePlayer,
    FAKE(QVSP_ReleasePlayer, 1),   FAKE(QVSP_OpenStream, 1),
    FAKE(QVSP_CloseStream, 1),     FAKE(QVSP_WriteToStreamOneFrame, 1),
    FAKE(QVSP_SetVideoPreview, 1), FAKE(QVSP_SetAudioPreview, 1),
    FAKE(QVSP_RefreshWindow, 1),   &FakeOps::GetBitmapSize,
};

const platform::Mp4PkgApi kMp4{FAKE(QP_OpenPackage, 1), FAKE(QP_PackageOneFrame, 1),
                               FAKE(QP_ClosePackage, 1)};

const platform::OctApi kOct{
    FAKE(octc_init_sdk, 0),
    FAKE(octc_enable_log, 0),
    FAKE(octc_encrypt_config, 0),
    FAKE(octc_default_encrypt_proc, 0),
    FAKE(octc_default_decrypt_proc, 0),
    &FakeOps::OctRegister,
    &FakeOps::OctCmdInit,
    &FakeOps::Module<"octc_stream_init_module", &Cb::streamState, &Cb::streamData,
                     OctRecordCallback>,
    &FakeOps::Module<"octc_vod_init_module", &Cb::vodState, &Cb::vodData, OctRecordCallback>,
    &FakeOps::Module<"octc_down_init_module", &Cb::downState, &Cb::downData, OctDownDataCallback>,
    &FakeOps::Module<"octc_chat_init_module", &Cb::chatState, &Cb::chatData, OctChatDataCallback>,
    FAKE(octc_chat_release_module, 0),
    FAKE(octc_down_release_module, 0),
    FAKE(octc_vod_release_module, 0),
    FAKE(octc_stream_release_module, 0),
    FAKE(octc_cmd_release_module, 0),
    FAKE(octc_release_sdk, 0),
    FAKE(octc_connect_by_hostname, 1),
    FAKE(octc_connect_by_nimbus, 1),
    FAKE(octc_close_conn, 0),
    &FakeOps::OctGetDevInfo,
    FAKE(octc_cmd_free_dev_info, 0),
    FAKE(octc_stream_open, 1),
    FAKE(octc_stream_close, 0),
    FAKE(octc_stream_insert_keyframe, 0),
    FAKE(octc_chat_open, 1),
    FAKE(octc_chat_close, 0),
    FAKE(octc_chat_write, 0),
    &FakeOps::OctGetRecList,
    FAKE(octc_cmd_free_rec_file_list_result, 0),
    FAKE(octc_vod_open, 1),
    FAKE(octc_vod_close, 0),
    FAKE(octc_vod_set_speed, 0),
    FAKE(octc_vod_skip_to, 0),
    FAKE(octc_down_open, 1),
    FAKE(octc_down_close, 0),
    &FakeOps::OctSendNotify,
    &FakeOps::OctRemoteConfig,
    FAKE(octc_cmd_free_remote_config_result, 0),
    FAKE(octc_get_dev_online_status, 0),
    FAKE(octc_free_dev_online_status, 0),
    &FakeOps::StartOctSearch,
    FAKE(octc_search_device, 0),
    FAKE(octc_stop_search_device_service, 0),
    FAKE(octc_set_search_target, 0)};

}  // namespace

FakeLibraries::FakeLibraries() {
  g_current.store(this);
  platform::BindNxl(&kNxl);
  platform::BindOct(&kOct);
  platform::BindPlayer(&kPlayer);
  platform::BindMp4Pkg(&kMp4);
}

FakeLibraries::FakeLibraries(PlayerOnly) {
  g_current.store(this);
  platform::BindPlayer(&kPlayer);
}

FakeLibraries::~FakeLibraries() {
  platform::BindNxl(nullptr);
  platform::BindPlayer(nullptr);
  platform::BindMp4Pkg(nullptr);
  platform::BindOct(nullptr);
  g_current.store(nullptr);
}

FakeLibraries& FakeLibraries::Current() {
  return *g_current.load();
}

std::vector<std::string> FakeLibraries::Calls() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  std::vector<std::string> calls;
  for (const auto& [name, call] : m_calls) calls.push_back(call);
  return calls;
}

std::vector<std::string> FakeLibraries::CallNames() const {
  std::vector<std::string> names = Calls();
  for (std::string& call : names) call.erase(call.find('('));
  return names;
}

int FakeLibraries::CountCalls(const std::string& name) const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return static_cast<int>(std::count_if(m_calls.begin(), m_calls.end(),
                                        [&](const auto& call) { return call.first == name; }));
}

void FakeLibraries::ClearCalls() {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_calls.clear();
  m_sent.clear();
}

int64_t FakeLibraries::ResultFor(const std::string& name, int64_t firstArg, int64_t fallback) {
  std::function<int64_t(int64_t)> fn;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (auto it = m_resultFns.find(name); it != m_resultFns.end()) {
      fn = it->second;
    } else if (auto r = m_results.find(name); r != m_results.end()) {
      return r->second;
    } else {
      return fallback;
    }
  }
  return fn(firstArg);
}

}  // namespace qcsdk::test
