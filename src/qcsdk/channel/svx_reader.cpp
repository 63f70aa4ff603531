#include "qcsdk/channel/svx_reader.h"

#include <cstring>

#include "qcsdk/base/bytes.h"
#include "qcsdk/channel/recfile.h"

namespace qcsdk {

namespace {

// The offset of the next start code (00 00 01, or 00 00 00 01) at or after
// `from`, and its length in `codeLength`; `end` when there is none.
std::size_t NextStartCode(const uint8_t* p, std::size_t from, std::size_t end,
                          std::size_t& codeLength) {
  for (std::size_t i = from; i + 3 <= end; ++i) {
    if (p[i] != 0 || p[i + 1] != 0) continue;
    if (p[i + 2] == 1) {
      codeLength = 3;
      return i;
    }
    if (i + 4 <= end && p[i + 2] == 0 && p[i + 3] == 1) {
      codeLength = 4;
      return i;
    }
  }
  codeLength = 0;
  return end;
}

// Whether the unit at `nal` (its header bytes, `size` of them) starts a new
// access unit after a picture's slices: a parameter set, delimiter or SEI,
// or the first slice of the next picture.
bool StartsPicture(const uint8_t* nal, std::size_t size, bool hevc, bool afterSlice) {
  if (hevc) {
    if (size < 3) return false;
    const int type = (nal[0] >> 1) & 0x3F;
    if (type <= 31) return afterSlice && (nal[2] & 0x80) != 0;  // first_slice_segment_in_pic
    return afterSlice && type >= 32 && type <= 39;
  }
  if (size < 2) return false;
  const int type = nal[0] & 0x1F;
  if (type >= 1 && type <= 5) return afterSlice && (nal[1] & 0x80) != 0;  // first_mb_in_slice 0
  return afterSlice &&
         (type == 6 || type == 7 || type == 8 || type == 9 || (type >= 14 && type <= 18));
}

bool IsSlice(const uint8_t* nal, bool hevc) {
  return hevc ? ((nal[0] >> 1) & 0x3F) <= 31 : (nal[0] & 0x1F) >= 1 && (nal[0] & 0x1F) <= 5;
}

}  // namespace

bool ReadSvxRecording(const std::vector<uint8_t>& file, SvxRecording& out) {
  if (file.size() < svx::kFramesAt || std::memcmp(file.data() + svx::kTag, "QVS", 3) != 0) {
    return false;
  }
  const uint8_t* block = file.data() + svx::kBlockSize;  // the copy closed with the count
  out = SvxRecording{};
  out.width = LoadLe32(block + svx::kWidth);
  out.height = LoadLe32(block + svx::kHeight);
  out.frameCount = LoadLe32(block + svx::kFrameCount);
  out.frameRate = LoadLe32(block + svx::kStandard) == 0 ? 30 : 25;

  const uint8_t* p = file.data();
  const std::size_t end = file.size();
  std::size_t code = 0;
  std::size_t at = NextStartCode(p, svx::kFramesAt, end, code);
  if (at + code < end) {
    // H.265 unit headers are two bytes with layer id 0 and temporal id 1.
    const uint8_t* nal = p + at + code;
    out.hevc = at + code + 1 < end && (nal[0] & 0x81) == 0 && (nal[1] & 0x07) == 1 &&
               ((nal[0] >> 1) & 0x3F) >= 32 && ((nal[0] >> 1) & 0x3F) <= 40;
  }
  std::size_t pictureStart = at;
  bool afterSlice = false;
  while (at < end) {
    std::size_t next = 0;
    const std::size_t nalAt = at + code;
    const std::size_t following = NextStartCode(p, nalAt, end, next);
    const uint8_t* nal = p + nalAt;
    const std::size_t size = following - nalAt;
    if (size > 0) {
      if (StartsPicture(nal, size, out.hevc, afterSlice)) {
        out.pictures.push_back({p + pictureStart, at - pictureStart});
        pictureStart = at;
        afterSlice = false;
      }
      if (IsSlice(nal, out.hevc)) afterSlice = true;
    }
    at = following;
    code = next;
  }
  if (afterSlice) out.pictures.push_back({p + pictureStart, end - pictureStart});
  return true;
}

}  // namespace qcsdk
