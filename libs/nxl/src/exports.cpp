// The exported operations of the library: each checks its arguments, runs
// on the library state and turns every failure into its documented result.
// No C++ exception leaves these functions.

#include <memory>
#include <string>

#include "broadcast_service.h"
#include "directory_client.h"
#include "frame.h"
#include "library.h"
#include "link.h"
#include "messages.h"
#include "netcard.h"
#include "netio/address.h"
#include "qvc/qvc.h"
#include "qvc/qvc_config.h"
#include "search_service.h"

namespace {

using qvc::Library;

template <class R, class Fn>
R Guarded(R failure, Fn fn) {
  try {
    return fn();
  } catch (...) {
    return failure;
  }
}

constexpr int32_t kDefaultLookupMs = 3000;

}  // namespace

extern "C" {

QVC_API int32_t QVC_InitSDK(int32_t, int32_t) {
  return Guarded<int32_t>(0, [] { return Library::Get().Init() ? 1 : 0; });
}

QVC_API int32_t QVC_SetLocalFilePath(const char* path) {
  return path ? 1 : 0;
}

QVC_API int32_t QVC_RegisterCallBack(QVC_ConnectCallback onConnect, QVC_StreamCallback onLive,
                                     QVC_FileListCallback onFileList, QVC_TalkCallback onTalk,
                                     QVC_TextCallback onText, QVC_DownloadCallback onDownload,
                                     QVC_StreamCallback onPlayback) {
  qvc::Callbacks& cb = Library::Get().callbacks();
  cb.on_connect.store(onConnect);
  cb.on_live.store(onLive);
  cb.on_file_list.store(onFileList);
  cb.on_talk.store(onTalk);
  cb.on_text.store(onText);
  cb.on_download.store(onDownload);
  cb.on_playback.store(onPlayback);
  return 1;
}

QVC_API int32_t QVC_EnableHelp(int32_t, int32_t) {
  return 1;
}

QVC_API int32_t QVC_ReleaseSDK(void) {
  return Guarded<int32_t>(0, [] {
    Library::Get().Release();
    return 1;
  });
}

QVC_API int32_t QVC_SetLocalNetCard(int32_t card) {
  return Guarded<int32_t>(0, [card] {
    uint32_t address = 0;  // any
    if (card != 0 && !qvc::LocalAddressOfCard(card, &address)) return 0;
    qvc::Settings settings = Library::Get().settings();
    settings.local_address = address;
    Library::Get().UpdateSettings(settings);
    return 1;
  });
}

QVC_API int32_t QVC_Connect(int32_t byNumber, int32_t linkId, int32_t deviceChannel,
                            const char* address, int32_t port, const char* user,
                            const char* password, int32_t number, const char* group, int32_t flag1,
                            int32_t, int32_t, int32_t, int32_t) {
  const char* refusal = "out of resources";
  const int32_t started = Guarded<int32_t>(0, [&] {
    qvc::LinkParams params;
    params.link_id = linkId;
    params.by_number = byNumber != 0;
    if (params.by_number) {
      params.group = qvc::wire::NormalGroup(group ? group : "");
      params.number = number;
    } else {
      // Read as the caller's own address check reads it (inet_addr), so an
      // address the caller accepted is never refused here.
      params.address = netio::InetAddr(address);
      if (params.address == 0xFFFFFFFFu) {
        refusal = "invalid address";
        return 0;
      }
      if (port <= 0 || port > 65535) {
        refusal = "invalid port";
        return 0;
      }
      params.port = static_cast<uint16_t>(port);
    }
    params.device_channel = deviceChannel;
    params.connect_type = flag1;
    params.user = user ? user : "";
    params.password = password ? password : "";
    Library& library = Library::Get();
    auto link = std::make_shared<qvc::Link>(library, std::move(params));
    refusal = library.StartLink(link);
    return refusal == nullptr ? 1 : 0;
  });
  // Every outcome arrives through the connect callback, a refusal too.
  if (started == 0) Library::Get().ReportRefusedConnect(linkId, refusal);
  return started;
}

QVC_API int32_t QVC_DisConnect(int32_t linkId) {
  return Guarded<int32_t>(0, [linkId] {
    Library& library = Library::Get();
    std::shared_ptr<qvc::Link> link = library.TakeLink(linkId);
    if (!link) return 0;
    link->RequestStop(qvc::Link::Stop::kDisconnect);
    // From a library thread (a callback) the link ends on its own; waiting
    // there could wait on a loop that waits on this one.
    if (qvc::ThreadSet::Current() == 0) link->WaitEnded();
    return 1;
  });
}

QVC_API int32_t QVC_SendData(int32_t linkId, int32_t type, const void* data, int32_t length) {
  return Guarded<int32_t>(0, [&] {
    if (length < 0 || (length > 0 && !data)) return 0;
    if (static_cast<uint32_t>(length) > qvc::wire::kMaxPayload - 4) return 0;
    std::shared_ptr<qvc::Link> link = Library::Get().FindLink(linkId);
    if (!link) return 0;
    return link->Send(qvc::wire::EncodeData(static_cast<uint32_t>(type),
                                            static_cast<const uint8_t*>(data),
                                            static_cast<size_t>(length)))
               ? 1
               : 0;
  });
}

QVC_API int32_t QVC_WANGetChannelCount(const char* group, int32_t number, int32_t timeoutMs) {
  return Guarded<int32_t>(0, [&] {
    Library& library = Library::Get();
    int32_t timeout = timeoutMs > 0 ? timeoutMs : kDefaultLookupMs;
    qvc::wire::DirAnswer answer;
    std::string error;
    auto deadline = netio::Clock::now() + std::chrono::milliseconds(timeout);
    if (qvc::LookupDevice(library.settings(), qvc::wire::NormalGroup(group ? group : ""), number,
                          -1, deadline, &answer, &error) != qvc::LookupResult::kAnswered) {
      return 0;
    }
    return answer.found ? answer.channel_count : -1;
  });
}

QVC_API void QVC_EnableSearchCache(int32_t enable) {
  Guarded<int32_t>(0, [enable] {
    Library::Get().search().EnableCache(enable != 0);
    return 0;
  });
}

QVC_API int32_t QVC_StartLANSerchServer(int32_t localPort, int32_t remotePort,
                                        QVC_SearchCallback onResult, int32_t) {
  return Guarded<int32_t>(
      0, [&] { return Library::Get().search().Start(localPort, remotePort, onResult) ? 1 : 0; });
}

QVC_API int32_t QVC_LANSerchDevice(const char*, int32_t, int32_t, int32_t, const char*,
                                   int32_t timeoutMs, int32_t maxAnswers) {
  return Guarded<int32_t>(
      0, [&] { return Library::Get().search().Search(timeoutMs, maxAnswers) ? 1 : 0; });
}

QVC_API void QVC_StopLANSerchServer(void) {
  Guarded<int32_t>(0, [] {
    Library::Get().search().Stop();
    return 0;
  });
}

QVC_API int32_t QVC_StartBroadcastServer(int32_t localPort, int32_t remotePort,
                                         QVC_BroadcastCallback onAnswer) {
  return Guarded<int32_t>(
      0, [&] { return Library::Get().broadcast().Start(localPort, remotePort, onAnswer) ? 1 : 0; });
}

QVC_API int32_t QVC_StopBroadcastServer(void) {
  return Guarded<int32_t>(0, [] { return Library::Get().broadcast().Stop() ? 1 : 0; });
}

QVC_API int32_t QVC_BroadcastOnce(int32_t messageId, const void* message, int32_t length,
                                  int32_t timeoutMs) {
  return Guarded<int32_t>(0, [&] {
    return Library::Get().broadcast().Broadcast(messageId, message, length, timeoutMs) ? 1 : 0;
  });
}

QVC_API int32_t QVC_SetDirectoryServer(const char* address, int32_t port) {
  return Guarded<int32_t>(0, [&] {
    qvc::Settings settings = Library::Get().settings();
    if (!address) {
      netio::ParseAddress(QVC_DEFAULT_DIRECTORY_ADDRESS, &settings.directory_address);
      settings.directory_port = QVC_DEFAULT_DIRECTORY_PORT;
    } else {
      if (port <= 0 || port > 65535) return 0;
      if (!netio::ParseAddress(address, &settings.directory_address)) return 0;
      settings.directory_port = static_cast<uint16_t>(port);
    }
    Library::Get().UpdateSettings(settings);
    return 1;
  });
}

QVC_API int32_t QVC_SetBroadcastTarget(const char* address, int32_t port) {
  return Guarded<int32_t>(0, [&] {
    if (port < 0 || port > 65535) return 0;
    qvc::Settings settings = Library::Get().settings();
    uint32_t target = 0;
    if (!netio::ParseAddress(address ? address : QVC_DEFAULT_BROADCAST_ADDRESS, &target)) {
      return 0;
    }
    settings.broadcast_address = target;
    settings.broadcast_port = static_cast<uint16_t>(address ? port : 0);
    Library::Get().UpdateSettings(settings);
    return 1;
  });
}

QVC_API int32_t QVC_SetLinkTimeouts(int32_t connectMs, int32_t pingIntervalMs, int32_t silenceMs) {
  return Guarded<int32_t>(0, [&] {
    if (connectMs < 0 || pingIntervalMs < 0 || silenceMs < 0) return 0;
    qvc::Settings settings = Library::Get().settings();
    qvc::Settings defaults;
    settings.connect_timeout_ms = connectMs ? connectMs : defaults.connect_timeout_ms;
    settings.ping_interval_ms = pingIntervalMs ? pingIntervalMs : defaults.ping_interval_ms;
    settings.silence_timeout_ms = silenceMs ? silenceMs : defaults.silence_timeout_ms;
    if (settings.silence_timeout_ms <= settings.ping_interval_ms) return 0;
    Library::Get().UpdateSettings(settings);
    return 1;
  });
}

}  // extern "C"
