#include "audio_blocks.h"

#include <algorithm>
#include <cstdio>

namespace qcrtsp {
namespace {

constexpr int16_t kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

struct ImaState {
  int predictor;
  int index;
  int16_t Next(unsigned nibble) {
    const int step = kStepTable[index];
    int diff = step >> 3;
    if (nibble & 1) diff += step >> 2;
    if (nibble & 2) diff += step >> 1;
    if (nibble & 4) diff += step;
    predictor = std::clamp(predictor + ((nibble & 8) ? -diff : diff), -32768, 32767);
    index = std::clamp(index + kIndexTable[nibble & 15], 0, 88);
    return static_cast<int16_t>(predictor);
  }
};

}  // namespace

uint8_t LinearToMuLaw(int16_t sample) {
  constexpr int kBias = 0x84, kClip = 32635;
  int s = sample;
  const int sign = s < 0 ? 0x80 : 0;
  if (s < 0) s = -s;
  s = std::min(s, kClip) + kBias;
  int exponent = 7;
  for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1) --exponent;
  const int mantissa = (s >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

void ImaAdpcmToMuLaw(const uint8_t* block, size_t length, int channels, std::vector<uint8_t>& out) {
  channels = std::max(channels, 1);
  const size_t header = 4 * static_cast<size_t>(channels);
  if (block == nullptr || length < header || block[2] > 88) return;
  ImaState state{static_cast<int16_t>(block[0] | (block[1] << 8)), block[2]};
  out.push_back(LinearToMuLaw(static_cast<int16_t>(state.predictor)));
  // After the headers, each channel has 4 bytes (8 samples) in turn.
  for (size_t group = header; group + header <= length; group += header) {
    for (size_t i = 0; i < 4; ++i) {
      const uint8_t b = block[group + i];
      out.push_back(LinearToMuLaw(state.Next(b & 0x0F)));
      out.push_back(LinearToMuLaw(state.Next(b >> 4)));
    }
  }
}

Span StripAdts(const uint8_t* frame, size_t length) {
  if (length >= 7 && frame[0] == 0xFF && (frame[1] & 0xF0) == 0xF0) {
    const size_t header = (frame[1] & 1) ? 7 : 9;
    if (length > header) return {frame + header, length - header};
  }
  return {frame, length};
}

const char* AacConfigHex(int sampleRate, int channels, char (&text)[5]) {
  constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                            22050, 16000, 12000, 11025, 8000,  7350};
  int index = 4;
  for (int i = 0; i < 13; ++i) {
    if (kRates[i] == sampleRate) index = i;
  }
  constexpr int kAacLc = 2;
  const int config = (kAacLc << 11) | (index << 7) | (std::clamp(channels, 1, 7) << 3);
  std::snprintf(text, sizeof text, "%04x", config);
  return text;
}

}  // namespace qcrtsp
