#include "vdevice/pattern_label.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace vdevice {
namespace {

constexpr uint8_t kInk = 235;
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;

// Seven rows of five dots, the highest bit leftmost; nullptr for a blank.
const std::array<uint8_t, kGlyphHeight>* Glyph(char c) {
  static constexpr std::array<std::array<uint8_t, kGlyphHeight>, 13> kGlyphs{{
      {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // 0
      {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
      {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
      {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
      {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
      {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
      {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
      {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
      {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
      {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
      {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E},  // C
      {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},  // H
      {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00},  // :
  }};
  if (c >= '0' && c <= '9') return &kGlyphs[static_cast<size_t>(c - '0')];
  if (c == 'C') return &kGlyphs[10];
  if (c == 'H') return &kGlyphs[11];
  if (c == ':') return &kGlyphs[12];
  return nullptr;
}

}  // namespace

void DrawLabel(uint8_t* luma, int stride, int width, int rows, std::string_view text) {
  // Three-pixel dots in a 32-row band, scaled up with the band; narrower
  // pictures get smaller dots so that a clock still fits. The glyphs end at
  // least a quarter of the band above its bottom edge, which keeps the rows
  // next to the moving pattern the same as without a label.
  const int scale = std::max(1, std::min(3 * rows / 32, width / 80));
  const int top = std::max(0, (rows - kGlyphHeight * scale) / 3);
  int left = 2 * scale;
  for (const char c : text) {
    if (const auto* glyph = Glyph(c)) {
      for (int gy = 0; gy < kGlyphHeight; ++gy) {
        for (int gx = 0; gx < kGlyphWidth; ++gx) {
          if (((*glyph)[static_cast<size_t>(gy)] >> (kGlyphWidth - 1 - gx) & 1) == 0) continue;
          for (int y = top + gy * scale; y < std::min(rows, top + (gy + 1) * scale); ++y) {
            const int x0 = left + gx * scale;
            const int x1 = std::min(width, x0 + scale);
            if (x0 < x1)
              std::fill(luma + static_cast<ptrdiff_t>(y) * stride + x0,
                        luma + static_cast<ptrdiff_t>(y) * stride + x1, kInk);
          }
        }
      }
    }
    left += (kGlyphWidth + 1) * scale;
  }
}

}  // namespace vdevice
