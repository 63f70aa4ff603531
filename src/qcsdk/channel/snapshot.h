// Snapshot conversion: a decoded YUV 4:2:0 picture to 32-bit BGRA pixels,
// bottom-up, and the bitmap file that holds them.
#pragma once

#include <qcsdk/qcsdk.h>

#include <cstddef>
#include <cstdint>

namespace qcsdk {

constexpr std::size_t kBitmapHeaderSize = 54;

// Size in bytes of the converted picture, or 0 when the frame holds no
// usable picture (no planes, non-positive or absurd dimensions).
std::size_t SnapshotSize(const DecodedFrame& frame);

// Converts with BT.601 video-range coefficients in 8-bit fixed point. `out`
// holds SnapshotSize(frame) bytes; the first row stored is the picture's
// bottom row. An odd last column takes the chroma of its pair.
void ConvertToBgra(const DecodedFrame& frame, uint8_t* out);

// The 54-byte file and info header of a 32-bit bottom-up bitmap.
void BuildBitmapHeader(int32_t width, int32_t height, uint8_t (&header)[kBitmapHeaderSize]);

}  // namespace qcsdk
