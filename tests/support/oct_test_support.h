// Helpers shared by the OCT tests: a media-information record.
#pragma once

#include <octc/octc.h>
#include <qcsdk/qcsdk.h>

#include "support/host_recorder.h"

namespace qcsdk::test {

// H.264 640x360 with 8 kHz mono 16-bit audio of the given codec.
inline OctMediaInfo OctMedia(int32_t durationMs = 0, int32_t rateX10000 = 250000,
                             int32_t audioCodec = 4) {
  OctMediaInfo m{};
  m.video_codec = 1;
  m.width = 640;
  m.height = 360;
  m.frame_rate_x10000 = rateX10000;
  m.audio_codec = audioCodec;
  m.audio_channels = 1;
  m.audio_sample_rate = 8000;
  m.audio_bits = 16;
  m.duration_ms = durationMs;
  return m;
}

}  // namespace qcsdk::test
