#include "aac.h"

#include <array>

namespace qp {
namespace {

constexpr std::array<int, 13> kSampleRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                              22050, 16000, 12000, 11025, 8000,  7350};
constexpr size_t kAdtsHeader = 7;
constexpr size_t kAdtsHeaderCrc = 9;

struct AdtsHeader {
  AacConfig config;
  size_t header_size = 0;
  size_t frame_size = 0;
};

std::optional<AdtsHeader> ParseHeader(std::span<const uint8_t> d) {
  if (d.size() < kAdtsHeader) return std::nullopt;
  // Sync word 0xFFF, layer 0.
  if (d[0] != 0xff || (d[1] & 0xf6) != 0xf0) return std::nullopt;
  AdtsHeader h;
  h.header_size = (d[1] & 1) != 0 ? kAdtsHeader : kAdtsHeaderCrc;
  h.config.object_type = (d[2] >> 6) + 1;
  const int rate_index = (d[2] >> 2) & 0xf;
  if (rate_index >= static_cast<int>(kSampleRates.size())) return std::nullopt;
  h.config.sample_rate = kSampleRates[rate_index];
  h.config.channels = ((d[2] & 1) << 2) | (d[3] >> 6);
  // Channel configuration 0 (layout in a PCE) and several raw data blocks
  // per frame are not supported.
  if (h.config.channels == 0 || (d[6] & 3) != 0) return std::nullopt;
  if (h.config.channels == 7) h.config.channels = 8;
  h.frame_size = ((d[3] & 3u) << 11) | (static_cast<size_t>(d[4]) << 3) | (d[5] >> 5);
  if (h.frame_size <= h.header_size) return std::nullopt;
  return h;
}

}  // namespace

bool LooksLikeAdts(std::span<const uint8_t> data) { return ParseHeader(data).has_value(); }

std::vector<AdtsFrame> SplitAdts(std::span<const uint8_t> data, bool* complete) {
  std::vector<AdtsFrame> frames;
  size_t pos = 0;
  while (pos < data.size()) {
    auto header = ParseHeader(data.subspan(pos));
    if (!header || header->frame_size > data.size() - pos) break;
    frames.push_back({header->config, data.subspan(pos + header->header_size,
                                                   header->frame_size - header->header_size)});
    pos += header->frame_size;
  }
  if (complete != nullptr) *complete = pos == data.size();
  return frames;
}

std::vector<uint8_t> AudioSpecificConfig(const AacConfig& config) {
  int rate_index = -1;
  for (size_t i = 0; i < kSampleRates.size(); ++i) {
    if (kSampleRates[i] == config.sample_rate) rate_index = static_cast<int>(i);
  }
  // Channel configuration 7 is 7.1 (eight channels); seven channels have none.
  const int channel_config = config.channels == 8 ? 7 : config.channels == 7 ? 0 : config.channels;
  if (rate_index < 0 || config.object_type < 1 || config.object_type > 30 || channel_config < 1 ||
      channel_config > 7) {
    return {};
  }
  const unsigned bits = (static_cast<unsigned>(config.object_type) << 11) |
                        (static_cast<unsigned>(rate_index) << 7) |
                        (static_cast<unsigned>(channel_config) << 3);
  return {static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits & 0xff)};
}

}  // namespace qp
