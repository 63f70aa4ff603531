// The decoder-relevant content of the 96-byte stream-information record.
#pragma once

#include <cstdint>
#include <optional>

namespace qvsp {

inline constexpr int32_t kStreamInfoSize = 96;

enum class VideoCodec { kMpeg4Part2, kH264, kH265 };
enum class AudioCodec { kImaAdpcm, kG711ALaw, kG711MuLaw, kAac };

struct StreamDescription {
  VideoCodec video = VideoCodec::kH264;
  int width = 0;
  int height = 0;
  int rateNum = 0;
  int rateDen = 1;
  std::optional<AudioCodec> audio;  // empty when the stream carries no audio
  int sampleRate = 8000;
  int channels = 1;
  int bitsPerSample = 16;
};

// Reads the record; empty when it is null, not exactly 96 bytes long, or
// names a video codec (or, with audio present, an audio codec) the player
// cannot decode.
std::optional<StreamDescription> ParseStreamInfo(const uint8_t* info, int32_t length);

}  // namespace qvsp
