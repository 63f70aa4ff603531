// Encodes a generated test picture sequence with libavcodec into elementary
// stream packets (Annex B for H.264/H.265, start-code delimited for MPEG-4
// Part 2), each with its key-frame flag. Sequence headers are repeated in
// every key frame, so decoding can start at any key frame.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vdevice {

enum class PatternCodec { kMpeg4, kH264, kH265 };
// Chroma sampling of the encoded pictures (4:2:2 and 4:4:4 need libx264 or
// libx265).
enum class PatternChroma { k420, k422, k444 };

struct PatternOptions {
  PatternCodec codec = PatternCodec::kH264;
  int width = 320;
  int height = 240;
  int frames = 25;
  int gop = 25;  // distance between key frames
  int fps = 25;
  int64_t bitRate = 0;  // bits/s; 0 leaves the encoder's quality-based default
  // When set, every picture is this flat colour (Y, U, V) instead of the
  // moving pattern.
  std::optional<std::array<uint8_t, 3>> flat = std::nullopt;
  std::string preset = "ultrafast";  // libx264/libx265 speed preset
  PatternChroma chroma = PatternChroma::k420;
};

// One encoded picture.
struct MediaFrame {
  std::vector<uint8_t> data;
  bool key = false;
};

// The libavcodec encoder used for the codec ("mpeg4", "libx264", "libx265").
const char* PatternEncoderName(PatternCodec codec);
// On Windows also true when the program runs through wine-run
// (QCSDK_VDEVICE_PORT_FILE set): EncodePattern then asks the native
// simulator's control port for what this libavcodec cannot encode.
bool PatternEncoderAvailable(PatternCodec codec);

// One packet per picture, in decoding order, without B-frames, the first a
// key frame. Throws std::runtime_error when the encoder is missing or fails.
std::vector<MediaFrame> EncodePattern(const PatternOptions& options);

// The value of the moving pattern's Y plane at (x, y) in picture `index`.
uint8_t PatternLuma(int x, int y, int index);

}  // namespace vdevice
