#include "annexb.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>

namespace qp {
namespace {

// H.264 NAL unit types.
constexpr int kAvcSlice = 1;
constexpr int kAvcIdr = 5;
constexpr int kAvcSps = 7;
constexpr int kAvcPps = 8;
// H.265 NAL unit types.
constexpr int kHevcIrapFirst = 16;
constexpr int kHevcIrapLast = 21;
constexpr int kHevcVps = 32;
constexpr int kHevcSps = 33;
constexpr int kHevcPps = 34;

int AvcType(Bytes nal) { return nal.empty() || (nal[0] & 0x80) != 0 ? -1 : nal[0] & 0x1f; }

// The type of an H.265 NAL unit of the base layer with a valid temporal id.
int HevcType(Bytes nal) {
  if (nal.size() < 2 || (nal[0] & 0x80) != 0) return -1;
  const int layer = ((nal[0] & 1) << 5) | (nal[1] >> 3);
  const int tid_plus1 = nal[1] & 7;
  if (layer != 0 || tid_plus1 == 0) return -1;
  return (nal[0] >> 1) & 0x3f;
}

// Reads Exp-Golomb codes from the start of a NAL unit's payload, skipping
// emulation prevention bytes.
class BitReader {
 public:
  explicit BitReader(Bytes payload) {
    int zeros = 0;
    for (uint8_t b : payload) {
      if (m_size == m_rbsp.size()) break;
      if (zeros >= 2 && b == 3) {
        zeros = 0;
        continue;
      }
      zeros = b == 0 ? zeros + 1 : 0;
      m_rbsp[m_size++] = b;
    }
  }
  std::optional<uint32_t> ReadUe() {
    int leading = 0;
    while (true) {
      auto bit = ReadBit();
      if (!bit) return std::nullopt;
      if (*bit) break;
      if (++leading > 31) return std::nullopt;
    }
    uint32_t value = 0;
    for (int i = 0; i < leading; ++i) {
      auto bit = ReadBit();
      if (!bit) return std::nullopt;
      value = (value << 1) | *bit;
    }
    return (uint32_t{1} << leading) - 1 + value;
  }

 private:
  std::optional<uint32_t> ReadBit() {
    if (m_pos >= m_size * 8) return std::nullopt;
    const uint32_t bit = (m_rbsp[m_pos / 8] >> (7 - m_pos % 8)) & 1;
    ++m_pos;
    return bit;
  }
  std::array<uint8_t, 16> m_rbsp{};
  size_t m_size = 0;
  size_t m_pos = 0;
};

bool IsAvcIntraSlice(Bytes nal) {
  BitReader reader(nal.subspan(1));
  if (!reader.ReadUe()) return false;  // first_mb_in_slice
  const auto slice_type = reader.ReadUe();
  return slice_type && (*slice_type % 5 == 2 || *slice_type % 5 == 4);
}

bool Contains(const std::vector<Bytes>& nals, int (*type_of)(Bytes), int type) {
  for (Bytes nal : nals) {
    if (type_of(nal) == type) return true;
  }
  return false;
}

bool HasHevcIrap(const std::vector<Bytes>& nals) {
  for (Bytes nal : nals) {
    const int type = HevcType(nal);
    if (type >= kHevcIrapFirst && type <= kHevcIrapLast && nal.size() > 2) return true;
  }
  return false;
}

bool IsAvcKey(const std::vector<Bytes>& nals) {
  bool sps_seen = false;
  for (Bytes nal : nals) {
    const int type = AvcType(nal);
    if (type == kAvcIdr && nal.size() > 1) return true;
    if (type == kAvcSps) sps_seen = true;
    if (type == kAvcSlice && sps_seen && IsAvcIntraSlice(nal)) return true;
  }
  return false;
}

// Plausibility checks of the first fields of parameter sets, so that noise
// with a parameter set's NAL header does not configure the file.
bool PlausibleAvcSps(Bytes nal) {
  static constexpr uint8_t kProfiles[] = {66, 77, 88,  100, 110, 122, 244, 44,
                                          83, 86, 118, 128, 138, 139, 134, 135};
  if (nal.size() < 5) return false;
  const uint8_t level = nal[3];
  return std::find(std::begin(kProfiles), std::end(kProfiles), nal[1]) != std::end(kProfiles) &&
         level >= 9 && level <= 62;
}

bool PlausibleHevcParameterSet(Bytes nal, int type) {
  if (type == kHevcVps) {
    // vps_reserved_0xffff_16bits follows the first two bytes of the payload.
    return nal.size() >= 8 && nal[4] == 0xff && nal[5] == 0xff;
  }
  if (type == kHevcSps) {
    if (nal.size() < 8) return false;
    const int max_sub_layers_minus1 = (nal[2] >> 1) & 7;
    const int profile_space = nal[3] >> 6;
    const int profile_idc = nal[3] & 0x1f;
    return max_sub_layers_minus1 <= 6 && profile_space == 0 && profile_idc >= 1 &&
           profile_idc <= 11;
  }
  return nal.size() > 2;
}

void AppendNal(std::vector<uint8_t>& out, Bytes nal) {
  static constexpr uint8_t kStartCode[] = {0, 0, 0, 1};
  out.insert(out.end(), std::begin(kStartCode), std::end(kStartCode));
  out.insert(out.end(), nal.begin(), nal.end());
}

}  // namespace

std::vector<Bytes> SplitAnnexB(Bytes frame) {
  std::vector<Bytes> nals;
  size_t i = 0;
  while (i < frame.size() && frame[i] == 0) ++i;
  if (i < 2 || i >= frame.size() || frame[i] != 1) return nals;
  size_t start = i + 1;
  size_t zeros = 0;
  for (size_t pos = start; pos < frame.size(); ++pos) {
    const uint8_t b = frame[pos];
    if (b == 1 && zeros >= 2) {
      // pos - zeros is where this start code's zero run began; any further
      // zeros before it trail the previous unit and are dropped.
      size_t end = pos - zeros;
      if (end > start) nals.push_back(frame.subspan(start, end - start));
      if (nals.size() > kMaxNalUnits) return {};
      start = pos + 1;
      zeros = 0;
      continue;
    }
    zeros = b == 0 ? zeros + 1 : 0;
  }
  size_t end = frame.size();
  while (end > start && frame[end - 1] == 0) --end;
  if (end > start) nals.push_back(frame.subspan(start, end - start));
  if (nals.size() > kMaxNalUnits) return {};
  return nals;
}

VideoCodec RecogniseCodec(const std::vector<Bytes>& nals) {
  if (Contains(nals, HevcType, kHevcVps) && Contains(nals, HevcType, kHevcSps) &&
      Contains(nals, HevcType, kHevcPps) && HasHevcIrap(nals)) {
    return VideoCodec::kH265;
  }
  if (Contains(nals, AvcType, kAvcSps) && Contains(nals, AvcType, kAvcPps) && IsAvcKey(nals)) {
    return VideoCodec::kH264;
  }
  return VideoCodec::kUnknown;
}

bool IsKeyFrame(VideoCodec codec, const std::vector<Bytes>& nals) {
  switch (codec) {
    case VideoCodec::kH264:
      return IsAvcKey(nals);
    case VideoCodec::kH265:
      return HasHevcIrap(nals);
    case VideoCodec::kUnknown:
      break;
  }
  return false;
}

std::vector<uint8_t> ParameterSets(VideoCodec codec, const std::vector<Bytes>& nals) {
  std::vector<uint8_t> out;
  if (codec == VideoCodec::kH264) {
    for (int wanted : {kAvcSps, kAvcPps}) {
      bool found = false;
      for (Bytes nal : nals) {
        if (AvcType(nal) != wanted || nal.size() < 2) continue;
        if (wanted == kAvcSps && !PlausibleAvcSps(nal)) continue;
        AppendNal(out, nal);
        found = true;
      }
      if (!found) return {};
    }
  } else if (codec == VideoCodec::kH265) {
    for (int wanted : {kHevcVps, kHevcSps, kHevcPps}) {
      bool found = false;
      for (Bytes nal : nals) {
        if (HevcType(nal) != wanted || !PlausibleHevcParameterSet(nal, wanted)) continue;
        AppendNal(out, nal);
        found = true;
      }
      if (!found) return {};
    }
  }
  return out;
}

}  // namespace qp
