// Counters of one decoder stream, updated by the writer and the decoding
// thread and read by QVSP_GetStatistics.
#pragma once

#include <atomic>
#include <cstdint>

#include "qvsp/qvsp_ext.h"

namespace qvsp {

struct StreamCounters {
  std::atomic<uint64_t> videoQueued{0};
  std::atomic<uint64_t> audioQueued{0};
  std::atomic<uint64_t> videoDropped{0};
  std::atomic<uint64_t> audioDropped{0};
  std::atomic<uint64_t> bytesDropped{0};
  std::atomic<uint64_t> overflows{0};
  std::atomic<uint64_t> refused{0};
  std::atomic<uint64_t> pictures{0};
  std::atomic<uint64_t> audioDecoded{0};
  std::atomic<uint64_t> decodeErrors{0};
  std::atomic<uint64_t> drawn{0};
  std::atomic<uint64_t> drawFailures{0};
  std::atomic<bool> audioAbsent{false};

  static void Add(std::atomic<uint64_t>& counter, uint64_t n = 1) {
    counter.fetch_add(n, std::memory_order_relaxed);
  }
  // Copies the counters; the queue depth is left to the caller.
  void Fill(QVSP_Statistics& out) const {
    out.videoFramesQueued = videoQueued.load(std::memory_order_relaxed);
    out.audioFramesQueued = audioQueued.load(std::memory_order_relaxed);
    out.videoFramesDropped = videoDropped.load(std::memory_order_relaxed);
    out.audioFramesDropped = audioDropped.load(std::memory_order_relaxed);
    out.bytesDropped = bytesDropped.load(std::memory_order_relaxed);
    out.overflows = overflows.load(std::memory_order_relaxed);
    out.framesRefused = refused.load(std::memory_order_relaxed);
    out.picturesReported = pictures.load(std::memory_order_relaxed);
    out.audioFramesDecoded = audioDecoded.load(std::memory_order_relaxed);
    out.decodeErrors = decodeErrors.load(std::memory_order_relaxed);
    out.picturesDrawn = drawn.load(std::memory_order_relaxed);
    out.drawFailures = drawFailures.load(std::memory_order_relaxed);
    out.audioAbsent = audioAbsent.load(std::memory_order_relaxed) ? 1 : 0;
  }
};

}  // namespace qvsp
