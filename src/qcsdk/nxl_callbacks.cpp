// Dispatch of what the Nxl transport delivers. The decoding of each message
// arrives with the Nxl transport; until then the library has no links and
// these functions are never called with data for a channel.
#include "qcsdk/nxl_callbacks.h"

namespace qcsdk::nxl {

void OnConnectResult(int32_t, uint8_t, const char*) {}
void OnLiveData(int32_t, uint8_t, const uint8_t*, int32_t) {}
void OnFileList(int32_t, const uint8_t*, int32_t) {}
void OnTalkData(int32_t, uint8_t, const uint8_t*, int32_t) {}
void OnTextData(int32_t, uint8_t, const uint8_t*, int32_t) {}
void OnDownloadData(int32_t, uint8_t, const uint8_t*, int32_t, uint32_t) {}
void OnPlaybackData(int32_t, uint8_t, const uint8_t*, int32_t) {}

}  // namespace qcsdk::nxl
