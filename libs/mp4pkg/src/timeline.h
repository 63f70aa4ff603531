// Presentation times of one stream of a package. A frame's millisecond
// timestamp is used when it is non-zero; a zero timestamp places the frame
// right after the previous one (one frame interval for video, the previous
// frame's sample count for audio). All streams of a package share one time
// origin so that timestamped audio and video stay in step.
#pragma once

#include <cstdint>
#include <optional>

namespace qp {

// The millisecond timestamp that maps to time 0 of the file, fixed by the
// first non-zero timestamp any stream sees and moved at discontinuities.
struct TimeOrigin {
  std::optional<int64_t> ms;
};

struct Placement {
  int64_t pts = 0;       // in the stream's units
  int64_t duration = 0;  // in the stream's units, at least 1
};

class Timeline {
 public:
  // `units_per_second`: 90000 for video, the sample rate for audio.
  // `snap_units`: a timestamped frame within this distance of the position
  // that follows the previous frame is placed there (audio with jittery
  // millisecond stamps stays gap-free); 0 disables it.
  Timeline(TimeOrigin& origin, int64_t units_per_second, int64_t snap_units);

  // Places a frame. `derived_duration` is its length when derived from the
  // frame rate or the sample count. Returns nothing for a first frame that
  // lies before the origin (audio that precedes the first key frame).
  std::optional<Placement> Place(int64_t timestamp_ms, int64_t derived_duration);

  // The position that follows the last placed frame.
  int64_t Next() const { return m_next; }

  // A backward step of more than this, or a forward step of more than
  // kMaxGapMs past the expected position, is a discontinuity.
  static constexpr int64_t kMaxBackwardMs = 1000;
  static constexpr int64_t kMaxGapMs = 3600 * 1000;

 private:
  int64_t ToMs(int64_t units) const { return units * 1000 / m_units; }
  int64_t ToUnits(int64_t ms) const { return ms * m_units / 1000; }

  TimeOrigin* m_origin;
  int64_t m_units;
  int64_t m_snap;
  bool m_started = false;
  int64_t m_last_pts = 0;
  int64_t m_last_duration = 0;
  int64_t m_next = 0;
};

}  // namespace qp
