// The pictures a player has reported, kept alive for whoever holds their
// plane addresses.
//
// The last reported picture stays referenced until a later picture of the
// same player has been reported (its callback has returned), the next stream
// is opened or the player is released. While a picture's callback runs, the
// one before it is still held too, so a reader that took the older addresses
// under its own lock keeps valid memory until it has seen the new ones.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "av_handles.h"
#include "qvsp/qvsp.h"

namespace qvsp {

class PictureSlot {
 public:
  // Starts a new stream: forgets the held picture. Returns the generation
  // that the stream's pictures must carry to be reported.
  uint64_t Restart();
  // Reports a planar YUV 4:2:0 picture of generation `generation` to
  // `callback` (when set) as the player `handle`, then holds it; `reported`
  // counts it as the call starts. A picture of an older generation is
  // discarded.
  void Report(uint64_t generation, FramePtr picture, int32_t handle, QVSP_PictureCallback callback,
              std::atomic<uint64_t>& reported);
  // Size of the held (or currently reported) picture; false when none.
  bool Size(int32_t& width, int32_t& height) const;
  bool HasPicture() const;
  // A new reference to the held picture (the last one whose callback has
  // returned); empty when none.
  FramePtr Last() const;

 private:
  mutable std::mutex m_mutex;
  uint64_t m_generation = 0;
  FramePtr m_shown;
  bool m_has = false;
  int32_t m_width = 0;
  int32_t m_height = 0;
};

}  // namespace qvsp
