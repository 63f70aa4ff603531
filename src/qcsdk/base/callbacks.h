// The host's seven callback slots. Registering replaces a slot at once; the
// SDK reads a slot afresh at every report and never calls a null one.
#pragma once

#include <qcsdk/qcsdk.h>

#include <atomic>

namespace qcsdk {

extern std::atomic<EventCallback> g_pfnEvent;
extern std::atomic<RawDataCallback> g_pfnRawData;
extern std::atomic<DownloadCallback> g_pfnDownload;
extern std::atomic<DecodedFrameCallback> g_pfnDecodedFrame;
extern std::atomic<SearchCallback> g_pfnSearch;
extern std::atomic<TalkCallback> g_pfnTalk;
extern std::atomic<UserDataCallback> g_pfnUserData;

// Raises an event through the event slot, when one is registered.
inline void RaiseEvent(int32_t channel, int32_t event, const char* data, int32_t value,
                       void* userData) {
  if (EventCallback fn = g_pfnEvent.load(std::memory_order_acquire)) {
    fn(channel, event, data, value, userData);
  }
}

}  // namespace qcsdk
