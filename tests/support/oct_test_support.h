// Helpers shared by the OCT tests: a media-information record and a wait
// for a condition.
#pragma once

#include <octc/octc.h>
#include <qcsdk/qcsdk.h>

#include <chrono>
#include <functional>
#include <thread>

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

// Polls pred until it holds or the scaled time-out passes.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(timeoutMs));
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace qcsdk::test
