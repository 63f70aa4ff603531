// The ".qdx" key frame index written beside an MP4 file (layout in
// docs/qdx-index.md): a 32-byte header, then one 24-byte entry per key
// frame, all little-endian. Entries are appended with one write(2) each as
// soon as the fragment they point to is in the MP4 file, so the index stays
// consistent with the file when the writing process dies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qp {

inline constexpr char kQdxMagic[4] = {'Q', 'D', 'X', 'I'};
inline constexpr uint16_t kQdxVersion = 1;
inline constexpr uint32_t kQdxHeaderSize = 32;
inline constexpr uint32_t kQdxEntrySize = 24;

struct QdxHeader {
  uint16_t video_codec = 0;  // 1 H.264, 2 H.265
  uint16_t audio_codec = 0;  // 0 none, 1 G.711 A-law, 2 G.711 mu-law, 3 AAC
  uint32_t width = 0;
  uint32_t height = 0;
  float frame_rate = 0;
};

struct QdxEntry {
  int64_t time_ms = 0;        // presentation time of the key frame in the file
  uint64_t offset = 0;        // file offset of the 'moof' box of its fragment
  uint32_t frame_number = 0;  // 0-based number of the key frame among the video frames
};

std::vector<uint8_t> EncodeQdxHeader(const QdxHeader& header);
std::vector<uint8_t> EncodeQdxEntry(const QdxEntry& entry);

struct QdxFile {
  QdxHeader header;
  std::vector<QdxEntry> entries;
  bool truncated = false;  // a partial entry at the end was ignored
};

// Parses index bytes; nothing when the header is missing or not ours.
std::optional<QdxFile> ParseQdx(const std::vector<uint8_t>& bytes);
// Reads and parses an index file.
std::optional<QdxFile> ReadQdx(const std::string& path);

}  // namespace qp
