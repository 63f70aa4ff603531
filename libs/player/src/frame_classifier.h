// Tells the video frames of a stream from its audio frames, and key frames
// from the others, by looking at the bytes alone.
//
// A frame is video when it starts with a start code (00 00 01, optionally
// after more zero bytes) followed by a header that is valid for the stream's
// video codec, and the rest of the frame keeps the start-code rules of that
// codec (see IsVideo). In a stream without audio every frame is video.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream_description.h"

namespace qvsp {

enum class FrameKind { kVideo, kAudio };

struct FrameClass {
  FrameKind kind = FrameKind::kAudio;
  bool key = false;  // a video frame a decoder can start from
};

class FrameClassifier {
 public:
  FrameClassifier(VideoCodec video, bool hasAudio) : m_video(video), m_hasAudio(hasAudio) {}

  FrameClass Classify(const uint8_t* data, size_t length) const;

  // True when the frame is a complete, well-formed elementary-stream frame of
  // the codec: H.264/H.265 Annex B where 00 00 00, 00 00 01 and 00 00 02
  // occur only as start codes (the emulation-prevention rule) and every NAL
  // header is valid; MPEG-4 Part 2 where every 00 00 01 is followed by a
  // defined start code value and zero runs only lead into start codes.
  bool IsVideo(const uint8_t* data, size_t length) const;
  // True when the frame holds an IDR/IRAP picture or a sequence header
  // (H.264/H.265), or an I-VOP or VOL header (MPEG-4 Part 2).
  bool IsKey(const uint8_t* data, size_t length) const;

 private:
  VideoCodec m_video;
  bool m_hasAudio;
};

}  // namespace qvsp
