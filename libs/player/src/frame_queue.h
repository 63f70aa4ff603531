// The bounded queue between a player's writer and its decoding thread.
//
// When a frame does not fit, whole groups of pictures are discarded rather
// than the queue growing: a new key frame replaces everything queued before
// it; otherwise everything before the newest queued key frame goes; if that
// is not enough the whole queue goes and video is discarded up to the next
// key frame, so the decoder always resumes at one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

#include "av_handles.h"
#include "frame_classifier.h"
#include "stream_counters.h"

namespace qvsp {

struct QueueLimits {
  size_t maxFrames = 128;
  size_t maxBytes = 32u << 20;
};

struct QueuedFrame {
  PacketPtr packet;
  FrameClass type;
};

class FrameQueue {
 public:
  enum class Push { kQueued, kDropped, kRefused, kStopped };

  FrameQueue(QueueLimits limits, StreamCounters& counters)
      : m_limits(limits), m_counters(counters) {}

  void SetLimits(QueueLimits limits);
  QueueLimits Limits() const;
  Push Add(QueuedFrame frame);
  // Waits for the next frame; empty once the queue is stopped.
  std::optional<QueuedFrame> Take();
  // Wakes the taker; frames still queued are discarded.
  void Stop();
  void Depth(size_t& frames, size_t& bytes) const;

 private:
  bool Fits(size_t size) const;
  // Discards the first n queued frames; true when one of them was video.
  bool DropFront(size_t n);
  void CountDrop(const QueuedFrame& frame);

  mutable std::mutex m_mutex;
  std::condition_variable m_ready;
  std::deque<QueuedFrame> m_frames;
  size_t m_bytes = 0;
  bool m_stopped = false;
  bool m_skipToKey = false;
  // A decoder can start only at a key frame: video before the stream's
  // first key frame is discarded (not counted as a drop).
  bool m_awaitFirstKey = true;
  QueueLimits m_limits;
  StreamCounters& m_counters;
};

}  // namespace qvsp
