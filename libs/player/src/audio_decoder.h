// One libavcodec audio decoder, handing every block of decoded samples to a
// sink (the player's sound output when it plays).
#pragma once

#include <functional>
#include <memory>

#include "av_handles.h"
#include "stream_description.h"

namespace qvsp {

class AudioDecoder {
 public:
  // Receives each decoded block; the frame is valid only during the call.
  using SampleSink = std::function<void(const AVFrame& samples)>;

  // Empty when the stream has no audio or the decoder cannot be opened.
  // G.711 frames are raw A-law or mu-law bytes; IMA ADPCM frames are blocks
  // in the WAV layout (per channel a 4-byte header with the predictor and
  // step index, then 4-bit samples); AAC frames are ADTS frames or raw AAC-LC
  // access units described by the record's sample rate and channels.
  static std::unique_ptr<AudioDecoder> Open(const StreamDescription& stream);
  explicit AudioDecoder(CodecContextPtr context);

  // Decodes one frame and hands each decoded block to `sink`, in order;
  // returns the number of blocks it gave, or -1 when the decoder rejected it.
  int Decode(AVPacket* packet, const SampleSink& sink);

 private:
  CodecContextPtr m_context;
  FramePtr m_decoded;
};

}  // namespace qvsp
