// Converts decoded audio blocks with libswresample to the format of the
// sound queue they go to (interleaved signed 16-bit at the output device's
// rate and channel count) and queues them there. Used by one decoding
// thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "audio_track.h"
#include "av_handles.h"

extern "C" {
#include <libswresample/swresample.h>
}

namespace qvsp {

struct SwrDeleter {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

class AudioResampler {
 public:
  // Queues the block on the track when the track plays; otherwise nothing.
  void Feed(const AVFrame& samples, AudioTrack& track);

 private:
  // Sets the converter up for blocks like `in` going to `out`, unless it
  // already is. False when libswresample refuses.
  bool Configure(const AVFrame& in, const AudioFormat& out);

  SwrPtr m_swr;
  int m_inRate = 0;
  int m_inFormat = -1;
  int m_inChannels = 0;
  AudioFormat m_out;
  std::vector<int16_t> m_buffer;
};

}  // namespace qvsp
