// What libavformat reads back from a media file: per stream its codec, its
// picture or sound parameters and the time, file position and key flag of
// each packet; and a short summary of that.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qcsdk::test {

struct StreamSummary {
  int codec_id = 0;  // AVCodecID
  uint32_t codec_tag = 0;
  int width = 0;
  int height = 0;
  int sample_rate = 0;
  int channels = 0;
  std::vector<uint8_t> extradata;
  std::vector<int64_t> pts_ms;
  std::vector<int64_t> pos;  // file offset of each packet
  std::vector<bool> keys;
  int64_t end_ms = 0;  // end of the last packet
};
struct MediaSummary {
  std::string format;  // libavformat's name of the probed format
  std::optional<StreamSummary> video;
  std::optional<StreamSummary> audio;
};
// Nothing when libavformat cannot open the file.
std::optional<MediaSummary> Summarise(const std::string& path);

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
