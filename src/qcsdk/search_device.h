// LAN device search over both transports.
#pragma once

#include <cstdint>

namespace qcsdk {

// Starts the Nxl search service on the first local port of 9400..9499
// that the library accepts.
bool StartNxlSearchService();
// Starts the OCT search service on the first local port of 26666..39999
// that the library accepts.
bool StartOctSearchService();
// QCSDK_LanSeartchDevice: one search over both transports.
bool LanSearchDevice(int32_t deviceType, int32_t timeoutMs);

}  // namespace qcsdk
