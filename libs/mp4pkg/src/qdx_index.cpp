#include "qdx_index.h"

#include <bit>
#include <cstring>
#include <fstream>
#include <iterator>

namespace qp {
namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put64(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint64_t Get(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

std::vector<uint8_t> EncodeQdxHeader(const QdxHeader& header) {
  std::vector<uint8_t> out(std::begin(kQdxMagic), std::end(kQdxMagic));
  Put16(out, kQdxVersion);
  Put16(out, kQdxHeaderSize);
  Put16(out, kQdxEntrySize);
  Put16(out, header.video_codec);
  Put16(out, header.audio_codec);
  Put16(out, 0);
  Put32(out, header.width);
  Put32(out, header.height);
  Put32(out, std::bit_cast<uint32_t>(header.frame_rate));
  Put32(out, 1000);  // entry time unit: milliseconds
  return out;
}

std::vector<uint8_t> EncodeQdxEntry(const QdxEntry& entry) {
  std::vector<uint8_t> out;
  Put64(out, static_cast<uint64_t>(entry.time_ms));
  Put64(out, entry.offset);
  Put32(out, entry.frame_number);
  Put32(out, 0);
  return out;
}

std::optional<QdxFile> ParseQdx(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < kQdxHeaderSize || std::memcmp(bytes.data(), kQdxMagic, 4) != 0) {
    return std::nullopt;
  }
  const uint8_t* p = bytes.data();
  const auto header_size = static_cast<uint32_t>(Get(p + 6, 2));
  const auto entry_size = static_cast<uint32_t>(Get(p + 8, 2));
  // Later versions may grow the header and the entries; their first fields
  // keep their places.
  if (Get(p + 4, 2) < 1 || header_size < kQdxHeaderSize || entry_size < kQdxEntrySize ||
      header_size > bytes.size() || Get(p + 28, 4) != 1000) {
    return std::nullopt;
  }
  QdxFile file;
  file.header.video_codec = static_cast<uint16_t>(Get(p + 10, 2));
  file.header.audio_codec = static_cast<uint16_t>(Get(p + 12, 2));
  file.header.width = static_cast<uint32_t>(Get(p + 16, 4));
  file.header.height = static_cast<uint32_t>(Get(p + 20, 4));
  file.header.frame_rate = std::bit_cast<float>(static_cast<uint32_t>(Get(p + 24, 4)));
  size_t pos = header_size;
  for (; bytes.size() - pos >= entry_size; pos += entry_size) {
    QdxEntry entry;
    entry.time_ms = static_cast<int64_t>(Get(p + pos, 8));
    entry.offset = Get(p + pos + 8, 8);
    entry.frame_number = static_cast<uint32_t>(Get(p + pos + 16, 4));
    file.entries.push_back(entry);
  }
  file.truncated = pos != bytes.size();
  return file;
}

std::optional<QdxFile> ReadQdx(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  return ParseQdx(bytes);
}

}  // namespace qp
