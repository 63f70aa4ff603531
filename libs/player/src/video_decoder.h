// One libavcodec video decoder on a single thread, turning every picture it
// produces into planar YUV 4:2:0.
#pragma once

#include <functional>
#include <memory>

#include "av_handles.h"
#include "stream_description.h"

namespace qvsp {

class VideoDecoder {
 public:
  using PictureSink = std::function<void(FramePtr picture)>;

  // Empty when libavcodec has no decoder for the codec or cannot open it.
  static std::unique_ptr<VideoDecoder> Open(const StreamDescription& stream);
  explicit VideoDecoder(CodecContextPtr context);

  // Decodes one frame and hands each resulting picture to `sink`, in
  // order. False when the decoder rejected the frame.
  bool Decode(AVPacket* packet, const PictureSink& sink);

 private:
  // A new reference to `frame` in YUV 4:2:0, converted when needed.
  FramePtr ToYuv420(AVFrame* frame);

  CodecContextPtr m_context;
  FramePtr m_decoded;
  SwsPtr m_scaler;
};

}  // namespace qvsp
