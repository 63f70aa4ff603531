// Used while our player library is not part of the build.
#include "platform/absent.h"
#include "platform/player_api.h"

namespace qcsdk::platform {

const PlayerApi& DefaultPlayer() {
  static const PlayerApi api{
      QCSDK_REFUSE(QVSP_InitSDK, 0),         QCSDK_REFUSE(QVSP_ReleaseSDK, 0),
      QCSDK_REFUSE(QVSP_SetCallBack, 0),     QCSDK_REFUSE(QVSP_CreatePlayer, -1),
      QCSDK_REFUSE(QVSP_ReleasePlayer, 0),   QCSDK_REFUSE(QVSP_OpenStream, 0),
      QCSDK_REFUSE(QVSP_CloseStream, 0),     QCSDK_REFUSE(QVSP_WriteToStreamOneFrame, 0),
      QCSDK_REFUSE(QVSP_SetVideoPreview, 0), QCSDK_REFUSE(QVSP_SetAudioPreview, 0),
      QCSDK_REFUSE(QVSP_RefreshWindow, 0),   QCSDK_REFUSE(QVSP_GetBitmapSize, 0),
  };
  return api;
}

}  // namespace qcsdk::platform
