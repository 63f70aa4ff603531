#include "stream_description.h"

namespace qvsp {
namespace {

// Byte offsets of the 16-bit little-endian fields the player reads.
constexpr int kVideoCodecAt = 38;
constexpr int kAudioPresentAt = 40;
constexpr int kWidthAt = 44;
constexpr int kHeightAt = 46;
constexpr int kRateNumAt = 48;
constexpr int kRateDenAt = 50;
constexpr int kAudioCodecAt = 52;
constexpr int kSampleRateAt = 54;
constexpr int kChannelsAt = 56;
constexpr int kBitsAt = 58;

constexpr int kMaxChannels = 8;

int Le16(const uint8_t* record, int at) { return record[at] | (record[at + 1] << 8); }

}  // namespace

std::optional<StreamDescription> ParseStreamInfo(const uint8_t* info, int32_t length) {
  if (info == nullptr || length != kStreamInfoSize) return std::nullopt;
  StreamDescription d;
  switch (Le16(info, kVideoCodecAt)) {
    case 0:
      d.video = VideoCodec::kMpeg4Part2;
      break;
    case 1:
      d.video = VideoCodec::kH264;
      break;
    case 2:
      d.video = VideoCodec::kH265;
      break;
    default:
      return std::nullopt;
  }
  d.width = Le16(info, kWidthAt);
  d.height = Le16(info, kHeightAt);
  d.rateNum = Le16(info, kRateNumAt);
  d.rateDen = Le16(info, kRateDenAt) == 0 ? 1 : Le16(info, kRateDenAt);
  if (Le16(info, kAudioPresentAt) != 1) return d;
  d.audioPresent = true;
  d.audioCodecNumber = Le16(info, kAudioCodecAt);
  switch (d.audioCodecNumber) {
    case 0: d.audio = AudioCodec::kImaAdpcm; break;
    case 1: d.audio = AudioCodec::kG711ALaw; break;
    case 2: d.audio = AudioCodec::kG711MuLaw; break;
    case 3: d.audio = AudioCodec::kAac; break;
    default: return d;
  }
  // Missing or implausible audio parameters fall back to 8 kHz mono 16 bit.
  const int rate = Le16(info, kSampleRateAt);
  const int channels = Le16(info, kChannelsAt);
  const int bits = Le16(info, kBitsAt);
  if (rate > 0) d.sampleRate = rate;
  if (channels >= 1 && channels <= kMaxChannels) d.channels = channels;
  if (bits == 8 || bits == 16) d.bitsPerSample = bits;
  return d;
}

}  // namespace qvsp
