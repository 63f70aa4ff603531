#include "qcsdk/base/callbacks.h"

namespace qcsdk {

std::atomic<EventCallback> g_pfnEvent{nullptr};
std::atomic<RawDataCallback> g_pfnRawData{nullptr};
std::atomic<DownloadCallback> g_pfnDownload{nullptr};
std::atomic<DecodedFrameCallback> g_pfnDecodedFrame{nullptr};
std::atomic<SearchCallback> g_pfnSearch{nullptr};
std::atomic<TalkCallback> g_pfnTalk{nullptr};
std::atomic<UserDataCallback> g_pfnUserData{nullptr};

}  // namespace qcsdk
