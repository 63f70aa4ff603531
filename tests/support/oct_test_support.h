// Helpers shared by the OCT tests: a media-information record.
#pragma once

#include <octc/octc.h>
#include <qcsdk/qcsdk.h>

#include "support/host_recorder.h"

namespace qcsdk::test {

// H.264 640x360 with 8 kHz mono 16-bit audio of the given codec.
inline OctMediaInfo OctMedia(int32_t durationMs = 0, int32_t rateX10000 = 250000,
                             int32_t audioCodec = 4) {
  return {.video_codec = 1,
          .width = 640,
          .height = 360,
          .frame_rate_x10000 = rateX10000,
          .audio_codec = audioCodec,
          .audio_channels = 1,
          .audio_sample_rate = 8000,
          .audio_bits = 16,
          .duration_ms = durationMs};
}

}  // namespace qcsdk::test
