#include "frame_classifier.h"

namespace qvsp {
namespace {

// What a unit after a start code is: other data, a picture, a picture a
// decoder can start from, a sequence header, or not of this codec at all.
enum class Unit { kSkip, kVcl, kKeyVcl, kKeyHeader, kInvalid };

// The unit whose header starts at `at` (n: frame length), for each codec.
Unit H264Unit(const uint8_t* p, size_t at, size_t n) {
  if (at >= n) return Unit::kInvalid;
  const uint8_t h = p[at];
  if ((h & 0x80) != 0) return Unit::kInvalid;  // forbidden_zero_bit
  const int type = h & 0x1F;
  const int refIdc = (h >> 5) & 3;
  if (type == 0 || type > 23) return Unit::kInvalid;
  if (type == 5) return refIdc != 0 ? Unit::kKeyVcl : Unit::kInvalid;
  if ((type == 6 || (type >= 9 && type <= 12)) && refIdc != 0) return Unit::kInvalid;
  if (type >= 1 && type <= 4) return Unit::kVcl;
  if (type == 7) return Unit::kKeyHeader;
  return Unit::kSkip;
}

Unit H265Unit(const uint8_t* p, size_t at, size_t n) {
  if (at + 1 >= n) return Unit::kInvalid;
  if ((p[at] & 0x80) != 0) return Unit::kInvalid;
  const int type = (p[at] >> 1) & 0x3F;
  const int layer = ((p[at] & 1) << 5) | (p[at + 1] >> 3);
  const int temporalIdPlus1 = p[at + 1] & 7;
  if (temporalIdPlus1 == 0 || layer != 0) return Unit::kInvalid;
  if (type <= 9) return Unit::kVcl;
  if (type >= 16 && type <= 23) return Unit::kKeyVcl;
  if (type == 32 || type == 33) return Unit::kKeyHeader;
  if (type >= 34 && type <= 40) return Unit::kSkip;
  return Unit::kInvalid;
}

constexpr uint8_t kVopStart = 0xB6;
constexpr uint8_t kVolFirst = 0x20;
constexpr uint8_t kVolLast = 0x2F;

Unit Mpeg4Unit(const uint8_t* p, size_t at, size_t n) {
  if (at >= n) return Unit::kInvalid;
  const uint8_t code = p[at];
  if (code <= 0x1F) {
    // A video-object start code carries no payload: the next start code (a
    // video-object-layer header) follows at once.
    if (at + 4 >= n || p[at + 1] != 0 || p[at + 2] != 0 || p[at + 3] != 1) return Unit::kInvalid;
    return p[at + 4] >= kVolFirst && p[at + 4] <= kVolLast ? Unit::kSkip : Unit::kInvalid;
  }
  if (code >= kVolFirst && code <= kVolLast) return Unit::kKeyHeader;
  if (code == kVopStart) {
    if (at + 1 >= n) return Unit::kInvalid;
    return (p[at + 1] >> 6) == 0 ? Unit::kKeyVcl : Unit::kVcl;
  }
  if (code >= 0xB0 && code <= 0xC5) return Unit::kSkip;
  return Unit::kInvalid;
}

struct Scan {
  bool valid = false;
  bool key = false;
};

// Walks the start codes of the frame. With `strict` the whole frame is
// checked; otherwise the walk stops at the first picture unit, which is
// enough to know whether the frame is a key frame.
Scan Walk(VideoCodec codec, const uint8_t* p, size_t n, bool strict) {
  Scan scan;
  auto unitAt = [&](size_t at) {
    switch (codec) {
      case VideoCodec::kH264:
        return H264Unit(p, at, n);
      case VideoCodec::kH265:
        return H265Unit(p, at, n);
      case VideoCodec::kMpeg4Part2:
        break;
    }
    return Mpeg4Unit(p, at, n);
  };
  // 00 00 02 is a start-code emulation in H.264/H.265 but ordinary data in
  // MPEG-4 Part 2, where only 23 or more zero bits are reserved.
  const bool twoIsReserved = codec != VideoCodec::kMpeg4Part2;
  bool sawPicture = false;
  bool keyHeader = false;
  // The frame must open with a start code: zero bytes, then 01.
  size_t i = 0;
  while (i < n && p[i] == 0) ++i;
  if (i < 2 || i >= n || p[i] != 1) return scan;
  size_t header = i + 1;
  for (;;) {
    const Unit unit = unitAt(header);
    if (unit == Unit::kInvalid) return scan;
    if (!sawPicture) {
      if (unit == Unit::kKeyHeader) keyHeader = true;
      if (unit == Unit::kVcl || unit == Unit::kKeyVcl) {
        sawPicture = true;
        scan.key = unit == Unit::kKeyVcl || keyHeader;
        if (!strict) {
          scan.valid = true;
          return scan;
        }
      }
    }
    // Find the next start code, checking the bytes on the way.
    size_t j = header;
    bool next = false;
    while (j + 2 < n) {
      if (p[j + 2] > 3) {
        j += 3;
        continue;
      }
      if (p[j] != 0 || p[j + 1] != 0) {
        ++j;
        continue;
      }
      const uint8_t third = p[j + 2];
      if (third == 3 || (third == 2 && !twoIsReserved)) {
        j += 3;
        continue;
      }
      if (third == 2) return scan;
      if (third == 1) {
        header = j + 3;
        next = true;
        break;
      }
      // Three or more zero bytes: only trailing zeros or a start code.
      size_t k = j + 2;
      while (k < n && p[k] == 0) ++k;
      if (k == n) break;
      if (p[k] != 1) return scan;
      header = k + 1;
      next = true;
      break;
    }
    if (!next) break;
  }
  scan.valid = true;
  scan.key = sawPicture ? scan.key : keyHeader;
  return scan;
}

}  // namespace

bool FrameClassifier::IsVideo(const uint8_t* data, size_t length) const {
  return data != nullptr && Walk(m_video, data, length, true).valid;
}

bool FrameClassifier::IsKey(const uint8_t* data, size_t length) const {
  if (data == nullptr) return false;
  const Scan scan = Walk(m_video, data, length, false);
  return scan.valid && scan.key;
}

FrameClass FrameClassifier::Classify(const uint8_t* data, size_t length) const {
  FrameClass result;
  if (data == nullptr) return result;
  if (m_hasAudio) {
    const Scan scan = Walk(m_video, data, length, true);
    if (!scan.valid) return result;
    result.key = scan.key;
  } else {
    result.key = IsKey(data, length);
  }
  result.kind = FrameKind::kVideo;
  return result;
}

}  // namespace qvsp
