// Media for the packaging tests: video from the shared pattern encoder, AAC
// in ADTS framing, and a summary of an MP4 file as libavformat reads it back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/pattern_encoder.h"
#include "support/tone_encoder.h"

namespace qp_test {

using qcsdk::test::EncodedPacket;
using qcsdk::test::PatternCodec;
using qcsdk::test::ToneCodec;

// `count` frames of the moving pattern at 25 frames a second, a key frame
// every `gop` frames; empty when the encoder is missing.
std::vector<EncodedPacket> Video(PatternCodec codec, int width, int height, int count, int gop);
// `count` encoded packets of a tone (G.711: 160 samples each; AAC: 1024).
std::vector<std::vector<uint8_t>> Audio(ToneCodec codec, int rate, int channels, int count);
// The frame behind a 7-byte ADTS header (AAC LC).
std::vector<uint8_t> WithAdts(const std::vector<uint8_t>& raw, int sample_rate, int channels);

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

// A fresh directory removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

}  // namespace qp_test
