// LAN device search over both transports. Each transport's answers are
// turned into one host record format and delivered to the host's search
// callback, each device number once per search; when every transport that
// started has ended, the host gets one null pointer.
#pragma once

#include <qcsdk/qcsdk.h>

#include <cstdint>

#include "platform/nxl_api.h"
#include "platform/oct_api.h"

namespace qcsdk {

// Starts the Nxl search service on the first local port of 9400..9499
// that the library accepts.
bool StartNxlSearchService();
// Starts the OCT search service on the first local port of 26666..39999
// that the library accepts.
bool StartOctSearchService();
// QCSDK_LanSeartchDevice: one search over both transports. False when a
// search is still running or neither transport could start one.
bool LanSearchDevice(int32_t deviceType, int32_t timeoutMs);
// After both search services stopped: a search still outstanding can no
// longer end by its transports, so it ends here with its one null pointer
// to the host, and the next start of the SDK can search again.
void ResetSearch();

// Host device type from an Nxl card type, judged by its leading
// hexadecimal digit: 11 -> 4, 13 -> 2, 14 -> 3, anything else -> 1.
int32_t DeviceTypeFromCardType(int32_t cardType);
// Host device type from an OCT device type: 1 -> 1, 2 -> 2, 3 or 4 -> 3,
// 5 -> 4, anything else -> 0.
int32_t DeviceTypeFromOctType(int32_t octType);

// The host records of the two transports' answers (every text cut to its
// field).
QCSDK_SearchResult SearchRecordFromNxl(const QVC_SearchResult& result);
QCSDK_SearchResult SearchRecordFromOct(const OctSearchInfo& info);

// Copies at most capacity - 1 characters of text (null: none) and
// terminates the field.
void CopyTextField(char* field, size_t capacity, const char* text, size_t sourceLimit);

}  // namespace qcsdk
