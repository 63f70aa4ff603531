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
  // The record says the stream carries audio: its frames are told apart
  // from the video even when the player has no decoder for them.
  bool audioPresent = false;
  int audioCodecNumber = -1;        // the record's audio codec field when audio is present
  std::optional<AudioCodec> audio;  // empty without audio or for a codec number the player lacks
  int sampleRate = 8000;
  int channels = 1;
  int bitsPerSample = 16;
};

// Reads the record; empty when it is null, not exactly 96 bytes long, or
// names a video codec the player cannot decode. An unknown audio codec
// leaves `audio` empty with `audioPresent` set: the video still plays.
std::optional<StreamDescription> ParseStreamInfo(const uint8_t* info, int32_t length);

}  // namespace qvsp
