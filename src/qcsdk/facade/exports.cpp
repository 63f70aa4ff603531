// The facade's per-channel exports and the connect exports.
#include <qcsdk/qcsdk.h>

#include <cstdlib>

#include "grpc/grpc_context.h"
#include "platform/player_api.h"
#include "qcsdk/discovery/search_device.h"
#include "qcsdk/facade/export_frame.h"
#include "qcsdk/nxl/nxl_callbacks.h"
#include "qcsdk/nxl/nxl_channel.h"
#include "qcsdk/oct/oct_channel.h"

using namespace qcsdk;

ChannelPtr qcsdk::MakeTransportChannel(int32_t nChannel, bool bOct) {
  // The object and its reference count live in one allocation.
  if (bOct) return std::make_shared<OctChannel>(nChannel);
  return std::make_shared<NxlChannel>(nChannel);
}

namespace {

int32_t ConnectChannel(bool bOct, const char* szAddress, int32_t nPort, int32_t nDeviceChannel,
                       int32_t nStream, const char* szUser, const char* szPassword,
                       int32_t bByNumber, void* pUserData) {
  ChannelPtr channel;
  try {
    const int32_t n = AllocChannel(bOct);
    if (n < 0) return -1;
    channel = FindChannel(n);
    if (channel && channel->Connect(szAddress, nPort, nDeviceChannel, nStream, szUser, szPassword,
                                    bByNumber != 0, pUserData)) {
      return n;
    }
  } catch (...) {
    // A connect that throws (out of memory) fails as a refused one does.
  }
  try {
    // The number is free again; the channel goes with the last reference.
    if (channel) RemoveChannel(*channel);
  } catch (...) {
  }
  return -1;
}

}  // namespace

extern "C" {

QCSDK_API int32_t QCSDK_CALL QCSDK_Connect(const char* szAddress, int32_t nPort,
                                           int32_t nDeviceChannel, const char* szUser,
                                           const char* szPassword, int32_t bByNumber,
                                           void* pUserData) {
  return ConnectChannel(false, szAddress, nPort, nDeviceChannel, -1, szUser, szPassword, bByNumber,
                        pUserData);
}

QCSDK_API int32_t QCSDK_CALL QCSDK_Connect2(int32_t nTransport, const char* szAddress,
                                            int32_t nPort, int32_t nDeviceChannel, int32_t nStream,
                                            const char* szUser, const char* szPassword,
                                            int32_t bByNumber, void* pUserData) {
  return ConnectChannel(nTransport == QCSDK_TRANSPORT_OCT, szAddress, nPort, nDeviceChannel,
                        nStream, szUser, szPassword, bByNumber, pUserData);
}

QCSDK_API int32_t QCSDK_CALL QCSDK_Disconnect(int32_t channel) {
  return WithChannel(channel, 0, [](Channel& c) { return c.Disconnect(); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_GetDeviceInfo(int32_t channel, int32_t* pDeviceType) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.GetDeviceInfo(pDeviceType); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_EnableDecoder(int32_t channel, int32_t bEnable) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.EnableDecoder(bEnable != 0); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_SetVideoPreview(int32_t channel, void* hWnd,
                                                   const QCSDK_Rect* pRect) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.SetVideoPreview(hWnd, pRect); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_SetAudioPreview(int32_t channel, void* hWnd) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.SetAudioPreview(hWnd); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_EnableVideoData(int32_t channel, int32_t bEnable) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.EnableVideoData(bEnable != 0); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_SetRawDataAllCodecs(int32_t channel, int32_t bOn) {
  return WithChannel(channel, 0, [&](Channel& c) {
    c.SetRawDataAllCodecs(bOn != 0);
    return true;
  });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_GetStreamInfo(int32_t channel, StreamInfo* pInfo) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.GetStreamInfo(pInfo); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_StartRec(int32_t channel, const char* szFilename) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.StartRecord(szFilename); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_StopRec(int32_t channel) {
  return WithChannel(channel, 0, [](Channel& c) { return c.StopRecord(); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_GetRemoteRecFileList(int32_t channel, const int32_t* pDates) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.GetRemoteRecFileList(pDates); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_RemotePlay(int32_t channel, int32_t index) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.RemotePlay(index); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_RemotePlayControl(int32_t channel, int32_t command,
                                                     int32_t value) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.RemotePlayControl(command, value); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_Refresh(int32_t channel) {
  return WithChannel(channel, 0, [](Channel& c) {
    return platform::Player().RefreshWindow(c.PlayerHandle()) > 0;
  });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_DownloadRemoteFile(int32_t channel, int32_t index,
                                                      const char* szFilename) {
  return WithChannel(channel, 0, [&](Channel& c) {
    c.StopDownload();
    if (index < 0) return true;
    return c.DownloadRemoteFile(index, szFilename);
  });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_RemoteRecording(int32_t channel, int32_t bStart) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.RemoteRecording(bStart != 0); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_StartTalk(int32_t channel) {
  return WithChannel(channel, 0, [](Channel& c) { return c.StartTalk(); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_StopTalk(int32_t channel) {
  return WithChannel(channel, 0, [](Channel& c) { return c.StopTalk(); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_SendTalkData(int32_t channel, const void* pData,
                                                int32_t length) {
  return WithChannel(channel, 0, [&](Channel& c) {
    return c.SendTalkData(static_cast<const uint8_t*>(pData), length);
  });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_SaveBitmap(int32_t channel, const char* szFilename) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.SaveBitmap(szFilename); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_SaveBitmapToBuffer(int32_t channel, uint8_t** ppBuffer,
                                                      int32_t* pWidth, int32_t* pHeight) {
  return WithChannel(channel, 0,
                     [&](Channel& c) { return c.SaveBitmapToBuffer(ppBuffer, pWidth, pHeight); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_RemoteConfig(int32_t channel, int32_t value) {
  return WithChannel(channel, 0, [&](Channel& c) { return c.RemoteConfig(value); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_SendPTZCommand(int32_t channel, int32_t command,
                                                  int32_t bStart) {
  return WithChannel(channel, 0,
                     [&](Channel& c) { return c.SendPTZCommand(command, bStart != 0); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_SendUserData(int32_t channel, const void* pData,
                                                int32_t length) {
  return WithChannel(channel, 0, [&](Channel& c) {
    return c.SendUserData(static_cast<const uint8_t*>(pData), length);
  });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_GRPC_Begin(int32_t channel) {
  return WithChannel(channel, 0, [](Channel& c) { return c.GrpcBegin(); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_GRPC_End(int32_t channel) {
  return WithChannel(channel, 0, [](Channel& c) { return c.GrpcEnd(); });
}

QCSDK_API int32_t QCSDK_CALL QCSDK_GRPC_FreeResults(int32_t channel) {
  return WithChannel(channel, 0, [](Channel& c) {
    if (GrpcContext* context = c.Grpc()) {
      // Waits for a call on another thread that may be filling results.
      GrpcCallLock lock(context);
      grpc_free_results(context);
    }
    return 1;
  });
}

QCSDK_API void QCSDK_CALL QCSDK_FreeBitmapBuffer(uint8_t* pBuffer) {
  std::free(pBuffer);
}

QCSDK_API int32_t QCSDK_CALL QCSDK_LanSeartchDevice(int32_t deviceType, int32_t timeoutMs) {
  return LanSearchDevice(deviceType, timeoutMs) ? 1 : 0;
}

QCSDK_API int32_t QCSDK_CALL QCSDK_GetNxlOnlineStatus(const char* szDeviceNumber,
                                                      int32_t timeoutMs) {
  try {
    return GetOnlineStatus(szDeviceNumber, timeoutMs);
  } catch (...) {
    return -1;
  }
}

}  // extern "C"
