// Media for the packaging tests: video and audio from the shared encoders,
// AAC in ADTS framing, and a scratch directory.
#pragma once

#include <qp/qp.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/media_probe.h"
#include "support/pattern_encoder.h"
#include "support/tone_encoder.h"

namespace qp_test {

using qcsdk::test::EncodedPacket;
using qcsdk::test::PatternCodec;
using qcsdk::test::ToneCodec;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// `count` encoded packets of a tone (G.711: 160 samples each; AAC: 1024).
inline std::vector<std::vector<uint8_t>> Audio(ToneCodec codec, int rate, int channels, int count) {
  return qcsdk::test::EncodeTone(
      {.codec = codec, .sampleRate = rate, .channels = channels, .packets = count});
}
// The frame behind a 7-byte ADTS header (AAC LC).
std::vector<uint8_t> WithAdts(const std::vector<uint8_t>& raw, int sample_rate, int channels);

// Encoded once per process at kWidth x kHeight: 6 s of H.264 and 1.6 s of
// H.265 with a key frame every second; empty when the encoder is missing.
const std::vector<EncodedPacket>& H264();
const std::vector<EncodedPacket>& H265();

// A package of kWidth x kHeight pictures, and one frame written to it.
QP_Handle Open(const std::string& file, const char* index, bool audio, int32_t format,
               float fps = 25.0f);
int32_t Put(QP_Handle h, int32_t kind, const std::vector<uint8_t>& data, int64_t timestamp = 0);

using qcsdk::test::MediaSummary;
using qcsdk::test::StreamSummary;
using qcsdk::test::Summarise;

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
