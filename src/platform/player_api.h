// The player library's operations as the SDK calls them. This header is the
// one door of the library's declarations into the SDK: nothing else under
// src/ includes qvsp.h.
#pragma once

#include <qvsp/qvsp.h>

namespace qcsdk::platform {

struct PlayerApi {
  decltype(&QVSP_InitSDK) InitSDK;
  decltype(&QVSP_ReleaseSDK) ReleaseSDK;
  decltype(&QVSP_SetCallBack) SetCallBack;
  decltype(&QVSP_CreatePlayer) CreatePlayer;
  decltype(&QVSP_ReleasePlayer) ReleasePlayer;
  decltype(&QVSP_OpenStream) OpenStream;
  decltype(&QVSP_CloseStream) CloseStream;
  decltype(&QVSP_WriteToStreamOneFrame) WriteToStreamOneFrame;
  decltype(&QVSP_SetVideoPreview) SetVideoPreview;
  decltype(&QVSP_SetAudioPreview) SetAudioPreview;
  decltype(&QVSP_RefreshWindow) RefreshWindow;
  decltype(&QVSP_GetBitmapSize) GetBitmapSize;
};

const PlayerApi& Player();
void BindPlayer(const PlayerApi* api);
// The table of our player library (or one that fails every call when the
// library is not part of this build).
const PlayerApi& DefaultPlayer();

}  // namespace qcsdk::platform
