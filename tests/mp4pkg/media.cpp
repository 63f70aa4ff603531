#include "media.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

extern "C" {
#include <libavutil/log.h>
}

namespace qp_test {
namespace {

// The encoders' reports and libavformat's complaints about files made of
// hostile frames are of no use in test output.
const bool g_quietLibav = [] {
  av_log_set_level(AV_LOG_FATAL);
  return true;
}();

std::vector<EncodedPacket> Encoded(PatternCodec codec, int frames, int gop) {
  if (!qcsdk::test::PatternEncoderAvailable(codec)) return {};
  return qcsdk::test::EncodePattern({.codec = codec,
                                     .width = kWidth,
                                     .height = kHeight,
                                     .frames = frames,
                                     .gop = gop,
                                     .flat = {}});
}

}  // namespace

std::vector<uint8_t> WithAdts(const std::vector<uint8_t>& raw, int sample_rate, int channels) {
  static constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                   22050, 16000, 12000, 11025, 8000,  7350};
  int index = 0;
  while (kRates[index] != sample_rate) ++index;
  const size_t length = raw.size() + 7;
  const uint8_t header[7] = {
      0xff,
      0xf1,                                                             // MPEG-4, no CRC
      static_cast<uint8_t>((1 << 6) | (index << 2) | (channels >> 2)),  // AAC LC
      static_cast<uint8_t>(((channels & 3) << 6) | (length >> 11)),
      static_cast<uint8_t>((length >> 3) & 0xff),
      static_cast<uint8_t>(((length & 7) << 5) | 0x1f),
      0xfc};
  std::vector<uint8_t> out(length);
  std::copy(std::begin(header), std::end(header), out.begin());
  std::copy(raw.begin(), raw.end(), out.begin() + 7);
  return out;
}

const std::vector<EncodedPacket>& H264() {
  static const auto frames = Encoded(PatternCodec::kH264, 150, 25);
  return frames;
}

const std::vector<EncodedPacket>& H265() {
  static const auto frames = Encoded(PatternCodec::kH265, 40, 20);
  return frames;
}

QP_Handle Open(const std::string& file, const char* index, bool audio, int32_t format, float fps) {
  QP_VideoDesc desc{kWidth, kHeight, fps, {0, 0, 0, 0}};
  return QP_OpenPackage(&desc, 1, audio ? 1 : 0, file.c_str(), index, format, 0);
}

int32_t Put(QP_Handle h, int32_t kind, const std::vector<uint8_t>& data, int64_t timestamp) {
  QP_Frame frame{kind, data.data(), static_cast<int32_t>(data.size()), 0, timestamp, 0};
  return QP_PackageOneFrame(h, &frame);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qp_test_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

}  // namespace qp_test
