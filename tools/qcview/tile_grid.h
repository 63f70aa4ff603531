// Where each tile of a columns x rows grid lies in the window: a frame that
// marks the selected tile, the video rectangle inside it and a status line
// under the video.
#pragma once

#include <vector>

#include "x_window.h"

namespace qcview {

struct TileBoxes {
  Box tile;    // the whole cell
  Box video;   // where pictures and the tile's messages go
  Box status;  // the status line
};

constexpr int kFrameWidth = 2;
constexpr int kStatusHeight = 16;  // fits the 13-pixel "fixed" font

// Tiles in reading order; the cells share the window's width and height
// evenly (the last column and row take what division leaves over). With
// `alone` at a tile's index, that tile takes the whole window and every
// other tile gets empty boxes.
std::vector<TileBoxes> LayOutGrid(int columns, int rows, int width, int height, int statusHeight,
                                  int alone = -1);

// The largest box of the picture's aspect ratio centred in `area` (the rest
// is left for bars); `area` itself when the picture's size is unknown.
Box FitPicture(const Box& area, int pictureWidth, int pictureHeight);

}  // namespace qcview
