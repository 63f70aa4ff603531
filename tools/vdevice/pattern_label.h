// Large block digits drawn into a luma plane: the label of the simulator's
// test pattern (channel number and clock), sized to stay readable when a
// viewer shows the picture in a 320x240 tile.
#pragma once

#include <cstdint>
#include <string_view>

namespace vdevice {

// Draws `text` into the band of `rows` rows at the top of a `width`-wide
// luma plane: 5x7-dot glyphs, each dot `scale` pixels square, light on the
// band, clipped at the right edge. Characters other than digits, 'C', 'H',
// ':' and space are left blank.
void DrawLabel(uint8_t* luma, int stride, int width, int rows, std::string_view text);

}  // namespace vdevice
