// Reader of the device's own recording containers (.sv4, .sv5, .sv6), as
// SVXRecFile writes them and as a device's raw download delivers them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qcsdk {

// One picture: its Annex B bytes inside the file's buffer.
struct SvxPicture {
  const uint8_t* data = nullptr;
  std::size_t size = 0;
};

struct SvxRecording {
  uint32_t width = 0, height = 0;
  uint32_t frameCount = 0;  // as the file's header says
  double frameRate = 0;
  bool hevc = false;  // H.265; H.264 otherwise
  std::vector<SvxPicture> pictures;
};

// Parses a whole file held in `file` (which must outlive the result): false
// when it does not begin with the container's header. The container keeps
// no frame boundaries, so pictures are found from the video bitstream's
// access units; audio stored between pictures cannot be told from them and
// stays at the end of the picture it follows, after the picture's data,
// where decoders do not read.
bool ReadSvxRecording(const std::vector<uint8_t>& file, SvxRecording& out);

}  // namespace qcsdk
