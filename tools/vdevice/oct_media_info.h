// The media information a virtual device announces on the OCT transport for
// its live streams and playbacks.
#pragma once

#include <octc/octc.h>

#include <cstdint>

#include "vdevice/virtual_device.h"

namespace vdevice {

// Video codec, size and rate of the device's clip with its G.711 audio;
// duration_ms is 0 for a live stream.
OctMediaInfo OctMediaInfoOf(const VirtualDevice& device, int32_t duration_ms);

// Milliseconds from the start of a stream to picture `index`.
uint32_t OctTimestampMs(const VirtualDevice& device, uint64_t index);

}  // namespace vdevice
