// Media for the packaging tests: H.264/H.265 Annex B frames and AAC frames
// made with libavcodec, G.711 bytes, and a summary of an MP4 file as
// libavformat reads it back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qp_test {

bool HaveEncoder(const char* name);

struct VideoFrame {
  std::vector<uint8_t> data;  // Annex B, parameter sets in front of key frames
  bool key = false;
};
// `count` frames of a moving test picture, a key frame every `gop` frames,
// no B-frames. Empty when the encoder is missing or fails.
std::vector<VideoFrame> EncodeVideo(const char* encoder, int width, int height, int fps, int count,
                                    int gop);

struct AacStream {
  std::vector<std::vector<uint8_t>> frames;  // raw AAC frames, 1024 samples each
  std::vector<uint8_t> config;               // their AudioSpecificConfig
};
AacStream EncodeAac(int sample_rate, int channels, int count);
// The frame behind a 7-byte ADTS header (AAC LC).
std::vector<uint8_t> WithAdts(const std::vector<uint8_t>& raw, int sample_rate, int channels);
// `samples` G.711 bytes of a tone.
std::vector<uint8_t> G711Tone(size_t samples, bool alaw);

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

// QCSDK_TEST_TIME_SCALE, at least 1.
double TimeScale();

}  // namespace qp_test
