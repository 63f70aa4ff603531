// Helpers shared by the OCT tests: a media-information record.
#pragma once

#include <octc/octc.h>

#include "support/host_recorder.h"

namespace qcsdk::test {

// H.264 640x360 with 8 kHz mono 16-bit audio of the given codec.
inline OctMediaInfo OctMedia(int32_t durationMs = 0, int32_t rateX10000 = 250000,
                             int32_t audioCodec = 4) {
  return {1, 640, 360, rateX10000, audioCodec, 1, 8000, 16, durationMs};
}

}  // namespace qcsdk::test
