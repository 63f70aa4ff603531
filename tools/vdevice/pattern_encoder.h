// Encodes a generated test picture sequence with libavcodec into elementary
// stream packets (Annex B for H.264/H.265, start-code delimited for MPEG-4
// Part 2), each with its key-frame flag. Sequence headers are repeated in
// every key frame, so decoding can start at any key frame.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vdevice/av_owners.h"

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
  int first = 0;  // pattern index of the first picture
  // H.264/H.265: a constant quantiser and closed GOPs (0: the encoder's
  // quality-based rate control). A key frame encoded alone with the same
  // options then decodes as the sequence's own key frame of that index
  // outside the label band, so it can take that key frame's place.
  int qp = 0;
  // Drawn in light digits into the label band of every picture (digits, 'C',
  // 'H', ':' and spaces; other characters stay blank).
  std::string label = "";
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

// An open encoder of the pattern (H.264 and H.265 without delay): each
// picture's packet comes out of the call that encodes it. One thread at a
// time.
class PatternEncoder {
 public:
  // Throws std::runtime_error when the encoder is missing or fails to open.
  explicit PatternEncoder(const PatternOptions& options);
  ~PatternEncoder();
  PatternEncoder(const PatternEncoder&) = delete;
  PatternEncoder& operator=(const PatternEncoder&) = delete;

  // Picture `index` of the pattern with the options' label; `key` forces an
  // IDR picture, which in a constant-quantiser sequence (options.qp) decodes
  // as the same picture from a fresh encoder would. The packets that came
  // out (none while the encoder holds the picture back).
  std::vector<MediaFrame> Encode(int index, bool key);
  // The packets still held.
  std::vector<MediaFrame> Flush();
  // The label of the pictures encoded from now on.
  void set_label(std::string label) { options_.label = std::move(label); }

 private:
  PatternOptions options_;
  ContextPtr context_;
  FramePtr frame_;
  PacketPtr packet_;
  int64_t pts_ = 0;
};

// One packet per picture, in decoding order, without B-frames, the first a
// key frame. Throws std::runtime_error when the encoder is missing or fails.
std::vector<MediaFrame> EncodePattern(const PatternOptions& options);

// The rows at the top of a picture of that height that the pattern keeps
// flat, dark and the same in every picture: the band a label is drawn into
// (32 rows up to 479 rows of height, 32 more per further 240 rows).
int PatternLabelRows(int height);

// The value of the moving pattern's Y plane at (x, y) in picture `index` of
// a picture `height` rows high, without a label.
uint8_t PatternLuma(int x, int y, int index, int height);

}  // namespace vdevice
