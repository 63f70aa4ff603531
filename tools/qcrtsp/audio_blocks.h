// The audio a device sends, made fit for an RTP payloader without decoding
// it where that is not needed: IMA ADPCM blocks become G.711 mu-law bytes,
// AAC frames lose their ADTS header (the payloader carries raw access units
// described once in the session description).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qcrtsp {

// Decodes one IMA ADPCM block in the WAV layout (per channel a 4-byte
// header: 16-bit predictor, step index, reserved; then 4-bit samples, low
// nibble first, channels interleaved in 4-byte groups) and appends the
// samples of its first channel as mu-law bytes to `out`. A block too short
// for its header or with a step index above 88 appends nothing.
void ImaAdpcmToMuLaw(const uint8_t* block, size_t length, int channels, std::vector<uint8_t>& out);

// One 16-bit linear sample as G.711 mu-law.
uint8_t LinearToMuLaw(int16_t sample);

// The bytes after an ADTS header when the frame starts with one (sync word
// 0xFFF, 7 bytes, 9 with a checksum); the frame as it is otherwise.
struct Span {
  const uint8_t* data;
  size_t length;
};
Span StripAdts(const uint8_t* frame, size_t length);

// The two-byte AudioSpecificConfig of AAC-LC at this rate and channel count,
// as hex text ("1408" for 8 kHz mono); the 44.1 kHz index for a rate AAC
// does not name.
const char* AacConfigHex(int sampleRate, int channels, char (&text)[5]);

}  // namespace qcrtsp
