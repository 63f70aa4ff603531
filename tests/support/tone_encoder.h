// Encodes a generated sine tone with libavcodec, one packet per encoder frame: G.711 A-law or
// mu-law (160 samples a packet), IMA ADPCM in the WAV block layout, or raw AAC-LC access units.
#pragma once

#include <cstdint>
#include <vector>

namespace qcsdk::test {

enum class ToneCodec { kImaAdpcm, kG711ALaw, kG711MuLaw, kAac };

struct ToneOptions {
  ToneCodec codec = ToneCodec::kG711ALaw;
  int sampleRate = 8000, channels = 1, packets = 10;
  double frequency = 440.0;
};

const char* ToneEncoderName(ToneCodec codec);

// Throws std::runtime_error when the encoder is missing or fails.
std::vector<std::vector<uint8_t>> EncodeTone(const ToneOptions& options);

}  // namespace qcsdk::test
