#include "tile_grid.h"

#include <algorithm>

namespace qcview {

std::vector<TileBoxes> LayOutGrid(int columns, int rows, int width, int height, int statusHeight) {
  std::vector<TileBoxes> tiles;
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      TileBoxes t;
      t.tile = {column * width / columns, row * height / rows, (column + 1) * width / columns,
                (row + 1) * height / rows};
      const Box inner{t.tile.left + kFrameWidth, t.tile.top + kFrameWidth,
                      t.tile.right - kFrameWidth, t.tile.bottom - kFrameWidth};
      const int statusTop = std::max(inner.top, inner.bottom - statusHeight);
      t.video = {inner.left, inner.top, inner.right, statusTop};
      t.status = {inner.left, statusTop, inner.right, inner.bottom};
      tiles.push_back(t);
    }
  }
  return tiles;
}

}  // namespace qcview
