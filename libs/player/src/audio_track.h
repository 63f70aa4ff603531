// The sound queue of one player: a short ring of samples in the output
// device's format, filled by the player's decoding thread and emptied by the
// device's mixing callback.
//
// Live sound must not fall behind its pictures, so the queue never grows:
// it holds at most kQueueMs of sound, and when a block does not fit the
// oldest samples give way to it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace qvsp {

// Interleaved signed 16-bit samples at this rate and channel count.
struct AudioFormat {
  int rate = 0;
  int channels = 0;
  bool operator==(const AudioFormat&) const = default;
};

class AudioTrack {
 public:
  static constexpr int kQueueMs = 150;

  // The format samples must have while the track plays; empty while it does
  // not.
  std::optional<AudioFormat> Format() const;
  // Queues `frames` frames of `format`, dropping the oldest queued ones (or
  // the block's own start) beyond the bound. Ignored unless the track plays
  // in that format.
  void Append(const AudioFormat& format, const int16_t* samples, size_t frames);
  // Adds up to `frames` queued frames into `sum` (interleaved, the track's
  // channel count) and removes them from the queue.
  void MixInto(int32_t* sum, size_t frames);

  // Starts playing in `format` or stops; both empty the queue.
  void Start(const AudioFormat& format);
  void Stop();
  // Marks the track as belonging to a released player: it never plays again.
  void Retire() { m_retired.store(true, std::memory_order_release); }
  bool Retired() const { return m_retired.load(std::memory_order_acquire); }

 private:
  mutable std::mutex m_mutex;  // guards the members below
  std::optional<AudioFormat> m_format;
  std::vector<int16_t> m_ring;
  size_t m_capacity = 0;  // in frames
  size_t m_head = 0;      // first queued frame
  size_t m_queued = 0;    // frames queued
  std::atomic<bool> m_retired{false};
};

}  // namespace qvsp
