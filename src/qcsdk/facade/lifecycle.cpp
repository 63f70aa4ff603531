// QCSDK_InitSDK and QCSDK_ReleaseSDK: the libraries are set up and shut
// down in a fixed order.
#include <qcsdk/qcsdk.h>

#include <cstring>
#include <string>

#include "log/log.h"
#include "platform/nxl_api.h"
#include "platform/oct_api.h"
#include "platform/os.h"
#include "platform/player_api.h"
#include "qcsdk/base/callbacks.h"
#include "qcsdk/base/module_dir.h"
#include "qcsdk/channel/registry.h"
#include "qcsdk/channel/stream_path.h"
#include "qcsdk/discovery/broadcast_target.h"
#include "qcsdk/discovery/search_device.h"
#include "qcsdk/nxl/nxl_callbacks.h"
#include "qcsdk/oct/oct_init.h"

namespace qcsdk {
namespace {

void FindModuleDir() {
  char path[kModuleDirCapacity];
  if (os::ModuleFileName(path, sizeof path) == 0) return;  // keep the old value
  CutToDirectory(path);
  std::memcpy(g_szModuleDir, path, sizeof path);
}

bool Succeeded(int32_t result) {
  return static_cast<uint8_t>(result) != 0;
}

}  // namespace

}  // namespace qcsdk

using namespace qcsdk;

extern "C" {

QCSDK_API int32_t QCSDK_CALL QCSDK_InitSDK(int32_t nInitParam, const char* szWorkDir) {
  try {
    FindModuleDir();
    const std::string prefix = szWorkDir != nullptr ? std::string(szWorkDir) + "//" : std::string();
    const std::string nxlTmp = prefix + "nxl_tmp";
    const platform::NxlApi& nxl = platform::Nxl();
    if (!Succeeded(nxl.InitSDK(nInitParam, 0))) return 0;
    if (!Succeeded(nxl.SetLocalFilePath(nxlTmp.c_str()))) return 0;
    nxl.RegisterCallBack(&nxl::OnConnectResult, &nxl::OnLiveData, &nxl::OnFileList,
                         &nxl::OnTalkData, &nxl::OnTextData, &nxl::OnDownloadData,
                         &nxl::OnPlaybackData);
    nxl.EnableHelp(1, 2);
    const std::string octLog = prefix + "oct_log";
    const std::string octTmp = prefix + "oct_tmp";
    if (!InitOct(octTmp.c_str(), octLog.c_str())) return 0;
    // Before the OCT search service binds its local address.
    ApplyBroadcastTarget();
    if (!StartNxlSearchService()) return 0;
    if (!StartOctSearchService()) return 0;
    const platform::PlayerApi& player = platform::Player();
    if (player.InitSDK() == 0) return 0;
    player.SetCallBack(&OnPlayerPicture, nullptr, nullptr, nullptr);
    return 1;
  } catch (...) {
    return 0;
  }
}

QCSDK_API int32_t QCSDK_CALL QCSDK_ReleaseSDK(void) {
  RemoveAllChannels();
  platform::Player().ReleaseSDK();
  platform::Oct().stop_search_device_service();
  platform::Nxl().StopLANSerchServer();
  ResetSearch();
  ReleaseOct();
  return platform::Nxl().ReleaseSDK();
}

QCSDK_API void QCSDK_CALL QCSDK_RegisterCallback(EventCallback onEvent, RawDataCallback onRawData,
                                                 DownloadCallback onDownload,
                                                 DecodedFrameCallback onDecodedFrame,
                                                 SearchCallback onSearch) {
  g_pfnEvent.store(onEvent, std::memory_order_release);
  g_pfnRawData.store(onRawData, std::memory_order_release);
  g_pfnDownload.store(onDownload, std::memory_order_release);
  g_pfnDecodedFrame.store(onDecodedFrame, std::memory_order_release);
  g_pfnSearch.store(onSearch, std::memory_order_release);
}

QCSDK_API void QCSDK_CALL QCSDK_RegisterTalkCallback(TalkCallback onTalk) {
  g_pfnTalk.store(onTalk, std::memory_order_release);
}

QCSDK_API void QCSDK_CALL QCSDK_RegisterUserDataCallback(UserDataCallback onUserData) {
  g_pfnUserData.store(onUserData, std::memory_order_release);
}

// On 32-bit Windows this export keeps its decorated name, _QCSDK_SetNetCard@4,
// in the export table (hosts import it under that name).
QCSDK_API int32_t QCSDK_CALL QCSDK_SetNetCard(int32_t card) {
  const int32_t result = platform::Nxl().SetLocalNetCard(card);
  if (Succeeded(result)) UseNetCardForSearch(card);
  return result;
}

QCSDK_API void QCSDK_CALL QCSDK_SetLogCallback(QCSDK_LogCallback callback, void* pUserData) {
  log::SetHostSink(callback, pUserData);
}

QCSDK_API int32_t QCSDK_CALL QCSDK_GetVersion(void) {
  return QCSDK_VERSION;
}

}  // extern "C"
