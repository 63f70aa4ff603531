// Used while our Nxl transport library is not part of the build.
#include "platform/absent.h"
#include "platform/nxl_api.h"

namespace qcsdk::platform {

const NxlApi& DefaultNxl() {
  static const NxlApi api{
      QCSDK_REFUSE(QVC_InitSDK, 0),
      QCSDK_REFUSE(QVC_SetLocalFilePath, 0),
      QCSDK_REFUSE(QVC_RegisterCallBack, 0),
      QCSDK_REFUSE(QVC_EnableHelp, 0),
      QCSDK_REFUSE(QVC_ReleaseSDK, 0),
      QCSDK_REFUSE(QVC_SetLocalNetCard, 0),
      QCSDK_REFUSE(QVC_Connect, 0),
      QCSDK_REFUSE(QVC_DisConnect, 0),
      QCSDK_REFUSE(QVC_SendData, 0),
      QCSDK_REFUSE(QVC_WANGetChannelCount, 0),
      QCSDK_REFUSE(QVC_EnableSearchCache, 0),
      QCSDK_REFUSE(QVC_StartLANSerchServer, 0),
      QCSDK_REFUSE(QVC_LANSerchDevice, 0),
      QCSDK_REFUSE(QVC_StopLANSerchServer, 0),
      QCSDK_REFUSE(QVC_StartBroadcastServer, 0),
      QCSDK_REFUSE(QVC_StopBroadcastServer, 0),
      QCSDK_REFUSE(QVC_BroadcastOnce, 0),
      QCSDK_REFUSE(QVC_SetBroadcastTarget, 0),
  };
  return api;
}

}  // namespace qcsdk::platform
