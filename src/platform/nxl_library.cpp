// The SDK bound to our Nxl transport library (libs/nxl).
#include "platform/nxl_api.h"

namespace qcsdk::platform {

const NxlApi& DefaultNxl() {
  static const NxlApi api{
      &QVC_InitSDK,
      &QVC_SetLocalFilePath,
      &QVC_RegisterCallBack,
      &QVC_EnableHelp,
      &QVC_ReleaseSDK,
      &QVC_SetLocalNetCard,
      &QVC_Connect,
      &QVC_DisConnect,
      &QVC_SendData,
      &QVC_WANGetChannelCount,
      &QVC_EnableSearchCache,
      &QVC_StartLANSerchServer,
      &QVC_LANSerchDevice,
      &QVC_StopLANSerchServer,
      &QVC_StartBroadcastServer,
      &QVC_StopBroadcastServer,
      &QVC_BroadcastOnce,
      &QVC_SetBroadcastTarget,
  };
  return api;
}

}  // namespace qcsdk::platform
