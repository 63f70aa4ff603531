// The seven functions the SDK registers with the Nxl transport library.
#pragma once

#include <cstdint>

namespace qcsdk::nxl {

void OnConnectResult(int32_t linkId, uint8_t result, const char* text);
void OnLiveData(int32_t linkId, uint8_t frameType, const uint8_t* data, int32_t length);
void OnFileList(int32_t linkId, const uint8_t* data, int32_t length);
void OnTalkData(int32_t linkId, uint8_t kind, const uint8_t* data, int32_t length);
void OnTextData(int32_t linkId, uint8_t type, const uint8_t* data, int32_t length);
void OnDownloadData(int32_t linkId, uint8_t type, const uint8_t* data, int32_t length,
                    uint32_t total);
void OnPlaybackData(int32_t linkId, uint8_t frameType, const uint8_t* data, int32_t length);

}  // namespace qcsdk::nxl

namespace qcsdk {
// QCSDK_GetNxlOnlineStatus: numbers that begin with a digit are asked over
// OCT, all others over Nxl.
int32_t GetOnlineStatus(const char* number, int32_t timeoutMs);
}  // namespace qcsdk
