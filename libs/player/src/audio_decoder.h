// One libavcodec audio decoder. The decoded samples are counted; nothing
// plays them yet.
#pragma once

#include <memory>

#include "av_handles.h"
#include "stream_description.h"

namespace qvsp {

class AudioDecoder {
 public:
  // Empty when the stream has no audio or the decoder cannot be opened.
  // G.711 frames are raw A-law or mu-law bytes; IMA ADPCM frames are blocks
  // in the WAV layout (per channel a 4-byte header with the predictor and
  // step index, then 4-bit samples); AAC frames are ADTS frames or raw AAC-LC
  // access units described by the record's sample rate and channels.
  static std::unique_ptr<AudioDecoder> Open(const StreamDescription& stream);
  explicit AudioDecoder(CodecContextPtr context);

  // Decodes one frame; returns the number of decoded audio frames it gave,
  // or -1 when the decoder rejected it.
  int Decode(AVPacket* packet);

 private:
  CodecContextPtr m_context;
  FramePtr m_decoded;
};

}  // namespace qvsp
