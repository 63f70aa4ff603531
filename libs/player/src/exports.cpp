// The library's C interface: each function looks its player up, runs the
// operation and turns the outcome into the documented result. No exception
// leaves these functions.
#include "player_table.h"
#include "qvsp/qvsp.h"
#include "qvsp/qvsp_ext.h"

namespace {

using qvsp::Player;
using qvsp::PlayerTable;

// Runs fn with the player, or answers `failure` when the handle names none
// or the operation throws.
template <class Fn>
int32_t WithPlayer(int32_t handle, int32_t failure, Fn&& fn) {
  try {
    std::shared_ptr<Player> player = PlayerTable::Instance().Find(handle);
    if (!player) return failure;
    return fn(*player);
  } catch (...) {
    return failure;
  }
}

}  // namespace

extern "C" {

QVSP_API int32_t QVSP_InitSDK(void) {
  try {
    PlayerTable::Instance().Init();
    return 1;
  } catch (...) {
    return 0;
  }
}

QVSP_API int32_t QVSP_ReleaseSDK(void) {
  try {
    PlayerTable::Instance().Release();
    return 1;
  } catch (...) {
    return 0;
  }
}

QVSP_API int32_t QVSP_SetCallBack(QVSP_PictureCallback onPicture, void* /*reserved1*/,
                                  void* /*reserved2*/, void* /*reserved3*/) {
  PlayerTable::Instance().SetCallback(onPicture);
  return 1;
}

QVSP_API int32_t QVSP_CreatePlayer(void) {
  try {
    return PlayerTable::Instance().Create();
  } catch (...) {
    return -1;
  }
}

QVSP_API int32_t QVSP_ReleasePlayer(int32_t player) {
  try {
    return PlayerTable::Instance().Remove(player) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

QVSP_API int32_t QVSP_OpenStream(int32_t player, const uint8_t* info, int32_t infoLength) {
  return WithPlayer(player, 0, [&](Player& p) { return p.OpenStream(info, infoLength) ? 1 : 0; });
}

QVSP_API int32_t QVSP_CloseStream(int32_t player) {
  return WithPlayer(player, 0, [](Player& p) {
    p.CloseStream();
    return 1;
  });
}

QVSP_API int32_t QVSP_WriteToStreamOneFrame(int32_t player, const uint8_t* data, int32_t length) {
  return WithPlayer(player, 0, [&](Player& p) { return p.Write(data, length) ? 1 : 0; });
}

QVSP_API int32_t QVSP_SetVideoPreview(int32_t player, void* window, const QVSP_Rect* rect,
                                      int32_t on) {
  return WithPlayer(player, 0,
                    [&](Player& p) { return p.SetVideoPreview(window, rect, on) ? 1 : 0; });
}

QVSP_API int32_t QVSP_SetAudioPreview(int32_t player, void* window, int32_t on) {
  return WithPlayer(player, 0, [&](Player& p) { return p.SetAudioPreview(window, on) ? 1 : 0; });
}

QVSP_API int32_t QVSP_RefreshWindow(int32_t player) {
  return WithPlayer(player, 0, [](Player& p) { return p.Refresh(); });
}

QVSP_API int32_t QVSP_GetBitmapSize(int32_t player, int32_t* width, int32_t* height) {
  if (width == nullptr || height == nullptr) return 0;
  return WithPlayer(player, 0, [&](Player& p) { return p.BitmapSize(*width, *height) ? 1 : 0; });
}

QVSP_API int32_t QVSP_GetStatistics(int32_t player, QVSP_Statistics* stats) {
  if (stats == nullptr) return 0;
  return WithPlayer(player, 0, [&](Player& p) {
    p.Statistics(*stats);
    return 1;
  });
}

QVSP_API int32_t QVSP_GetDrawTimes(int32_t player, uint32_t* micros, int32_t capacity) {
  if (micros == nullptr || capacity < 1) return 0;
  return WithPlayer(player, 0, [&](Player& p) {
    return static_cast<int32_t>(p.DrawTimes(micros, static_cast<size_t>(capacity)));
  });
}

QVSP_API int32_t QVSP_SetQueueLimits(int32_t player, int32_t maxFrames, int32_t maxBytes) {
  if (maxFrames < 1 || maxBytes < 1) return 0;
  return WithPlayer(player, 0, [&](Player& p) {
    p.SetQueueLimits(
        qvsp::QueueLimits{static_cast<size_t>(maxFrames), static_cast<size_t>(maxBytes)});
    return 1;
  });
}

}  // extern "C"
