// Media for the packaging tests: shared-encoder video and audio, ADTS framing, a scratch directory.
#pragma once

#include <qp/qp.h>

#include <optional>
#include <string>

#include "support/tone_encoder.h"
#include "vdevice/pattern_encoder.h"

namespace qp_test {

using qcsdk::test::ToneCodec;
using vdevice::MediaFrame;
using vdevice::PatternCodec;

constexpr int kWidth = 320, kHeight = 240;

// `count` encoded packets of a tone (G.711: 160 samples each; AAC: 1024).
inline std::vector<std::vector<uint8_t>> Audio(ToneCodec codec, int rate, int channels, int count) {
  return qcsdk::test::EncodeTone(
      {.codec = codec, .sampleRate = rate, .channels = channels, .packets = count});
}
// The frame behind a 7-byte ADTS header (AAC LC).
std::vector<uint8_t> WithAdts(const std::vector<uint8_t>& raw, int sample_rate, int channels);

// Encoded once at kWidth x kHeight, a key frame a second: 6 s of H.264, 1.6 s of H.265 (or none).
const std::vector<MediaFrame>& H264();
const std::vector<MediaFrame>& H265();

// A package of kWidth x kHeight pictures, and one frame written to it.
QP_Handle Open(const std::string& file, const char* index, bool audio, int32_t format,
               float fps = 25.0f);
int32_t Put(QP_Handle h, int32_t kind, const std::vector<uint8_t>& data, int64_t timestamp = 0);

// What libavformat reads back: per stream codec, picture or sound, per packet time, offset, key.
struct StreamSummary {
  int codec_id = 0;  // AVCodecID
  std::string tag;   // the four-character code of the sample entry
  int width = 0, height = 0, sample_rate = 0, channels = 0;
  std::vector<uint8_t> extradata;
  std::vector<int64_t> pts_ms{}, pos{};  // pos: file offset of each packet
  std::vector<bool> keys{};
  int64_t end_ms = 0;  // end of the last packet
};
struct MediaSummary {
  std::string format;  // libavformat's name of the probed format
  std::optional<StreamSummary> video, audio;
};
// Nothing when libavformat cannot open the file.
std::optional<MediaSummary> Summarise(const std::string& path);

// A fresh directory removed with everything in it at the end of the scope.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

}  // namespace qp_test
