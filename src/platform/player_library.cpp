// The table of our player library.
#include "platform/player_api.h"

namespace qcsdk::platform {

const PlayerApi& DefaultPlayer() {
  static const PlayerApi api{
      &QVSP_InitSDK,         &QVSP_ReleaseSDK,
      &QVSP_SetCallBack,     &QVSP_CreatePlayer,
      &QVSP_ReleasePlayer,   &QVSP_OpenStream,
      &QVSP_CloseStream,     &QVSP_WriteToStreamOneFrame,
      &QVSP_SetVideoPreview, &QVSP_SetAudioPreview,
      &QVSP_RefreshWindow,   &QVSP_GetBitmapSize,
  };
  return api;
}

}  // namespace qcsdk::platform
