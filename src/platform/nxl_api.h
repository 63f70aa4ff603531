// The Nxl transport library's operations as the SDK calls them. This header
// is the one door of the library's declarations into the SDK (records,
// callback types, result codes): nothing else under src/ includes qvc.h.
#pragma once

#include <qvc/qvc.h>
#include <qvc/qvc_config.h>

// The search answer the library hands over by value.
static_assert(sizeof(QVC_SearchResult) == 692);

namespace qcsdk::platform {

struct NxlApi {
  decltype(&QVC_InitSDK) InitSDK;
  decltype(&QVC_SetLocalFilePath) SetLocalFilePath;
  decltype(&QVC_RegisterCallBack) RegisterCallBack;
  decltype(&QVC_EnableHelp) EnableHelp;
  decltype(&QVC_ReleaseSDK) ReleaseSDK;
  decltype(&QVC_SetLocalNetCard) SetLocalNetCard;
  decltype(&QVC_Connect) Connect;
  decltype(&QVC_DisConnect) DisConnect;
  decltype(&QVC_SendData) SendData;
  decltype(&QVC_WANGetChannelCount) WANGetChannelCount;
  decltype(&QVC_EnableSearchCache) EnableSearchCache;
  decltype(&QVC_StartLANSerchServer) StartLANSerchServer;
  decltype(&QVC_LANSerchDevice) LANSerchDevice;
  decltype(&QVC_StopLANSerchServer) StopLANSerchServer;
  decltype(&QVC_StartBroadcastServer) StartBroadcastServer;
  decltype(&QVC_StopBroadcastServer) StopBroadcastServer;
  decltype(&QVC_BroadcastOnce) BroadcastOnce;
  // Where search probes and OKIP broadcasts go.
  decltype(&QVC_SetBroadcastTarget) SetBroadcastTarget;
};

const NxlApi& Nxl();
void BindNxl(const NxlApi* api);
const NxlApi& DefaultNxl();

}  // namespace qcsdk::platform
