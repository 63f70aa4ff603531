// Where each tile of a columns x rows grid lies in the window: a frame that
// marks the selected tile, the video rectangle inside it and a status line
// under the video.
#pragma once

#include <vector>

#include "x_window.h"

namespace qcview {

struct TileBoxes {
  Box tile;    // the whole cell
  Box video;   // where the player draws
  Box status;  // the status line
};

constexpr int kFrameWidth = 2;
constexpr int kStatusHeight = 16;  // fits the 13-pixel "fixed" font

// Tiles in reading order; the cells share the window's width and height
// evenly (the last column and row take what division leaves over).
std::vector<TileBoxes> LayOutGrid(int columns, int rows, int width, int height, int statusHeight);

}  // namespace qcview
