// The video a virtual device sends: encoded once, looped forever. A clip is
// a run of Annex B access units in decoding order (no B-frames), starting
// with a key frame that repeats the parameter sets.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vdevice/device_settings.h"
#include "vdevice/pattern_encoder.h"

namespace vdevice {

struct MediaClip {
  VideoCodec codec = VideoCodec::kH264;
  int width = 0;
  int height = 0;
  int fps = 25;
  std::vector<MediaFrame> frames;
  // The audio that goes with each picture, when the clip carries its own
  // (a camera's kept minutes); empty otherwise.
  std::vector<std::vector<uint8_t>> audio;
  // How a test-pattern clip was encoded (none for a media file's video).
  std::optional<PatternOptions> pattern;

  // Index of the key frame at or before `index` (0 when there is none).
  size_t KeyAtOrBefore(size_t index) const;
};

// A moving test pattern of `frames` pictures with a key frame every `gop`
// pictures, at a constant quantiser so that a labelled key frame
// (LabelledKeyFrame) can take the place of any of its key frames. Clips are shared: the same
// parameters give the same clip, which is encoded once per process. Throws std::runtime_error when
// the encoder is missing or fails.
std::shared_ptr<const MediaClip> TestPatternClip(VideoCodec codec, int width, int height, int fps,
                                                 int frames, int gop);

// The H.264/H.265 video of a media file, converted to Annex B; at most
// max_frames pictures, starting at its first key frame. Throws
// std::runtime_error when the file cannot be read or holds no such video.
std::shared_ptr<const MediaClip> MediaFileClip(const std::string& path, size_t max_frames);

// G.711 bytes of a 1 kHz tone, `count` samples starting at sample `first`.
std::vector<uint8_t> G711Tone(bool mu_law, uint64_t first, size_t count);

}  // namespace vdevice
