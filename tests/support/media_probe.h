// What libavformat reads back from a media file: the video and audio codecs,
// the picture size, the packets of each and the span of the video.
#pragma once

#include <string>

namespace qcsdk::test {

struct MediaProbe {
  bool opened = false;  // libavformat opened the file and found its streams
  std::string videoCodec;
  std::string audioCodec;
  int width = 0;
  int height = 0;
  int videoFrames = 0;
  int audioFrames = 0;
  double videoSeconds = 0;  // first to last video timestamp
};

MediaProbe ProbeMedia(const std::string& path);

}  // namespace qcsdk::test
