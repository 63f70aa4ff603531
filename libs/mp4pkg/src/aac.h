// AAC framing: ADTS headers are recognised and stripped, and the two-byte
// AudioSpecificConfig the MP4 sample entry needs is built from an ADTS
// header or from a configured sample rate and channel count.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qp {

struct AacConfig {
  int object_type = 2;  // AAC LC
  int sample_rate = 8000;
  int channels = 1;
  bool operator==(const AacConfig&) const = default;
};

// One AAC frame of an ADTS stream: its configuration and raw payload.
struct AdtsFrame {
  AacConfig config;
  std::span<const uint8_t> payload;
};

// Whether the bytes begin with an ADTS sync word and a plausible header.
bool LooksLikeAdts(std::span<const uint8_t> data);

// Splits a buffer of one or more ADTS frames. Stops at the first header
// that is invalid or whose frame runs past the buffer; `complete` (when
// given) tells whether the whole buffer was consumed.
std::vector<AdtsFrame> SplitAdts(std::span<const uint8_t> data, bool* complete = nullptr);

// The AudioSpecificConfig of a configuration; empty when the sample rate
// has no sampling frequency index or the values are out of range.
std::vector<uint8_t> AudioSpecificConfig(const AacConfig& config);

}  // namespace qp
