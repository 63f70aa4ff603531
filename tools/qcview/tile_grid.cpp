#include "tile_grid.h"

#include <algorithm>
#include <cstdint>

namespace qcview {
namespace {

TileBoxes Cell(const Box& cell, int statusHeight) {
  TileBoxes t;
  t.tile = cell;
  const Box inner{cell.left + kFrameWidth, cell.top + kFrameWidth, cell.right - kFrameWidth,
                  cell.bottom - kFrameWidth};
  const int statusTop = std::max(inner.top, inner.bottom - statusHeight);
  t.video = {inner.left, inner.top, inner.right, statusTop};
  t.status = {inner.left, statusTop, inner.right, inner.bottom};
  return t;
}

}  // namespace

std::vector<TileBoxes> LayOutGrid(int columns, int rows, int width, int height, int statusHeight,
                                  int alone) {
  std::vector<TileBoxes> tiles;
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      const int index = static_cast<int>(tiles.size());
      if (alone >= 0) {
        tiles.push_back(index == alone ? Cell({0, 0, width, height}, statusHeight) : TileBoxes{});
        continue;
      }
      tiles.push_back(Cell({column * width / columns, row * height / rows,
                            (column + 1) * width / columns, (row + 1) * height / rows},
                           statusHeight));
    }
  }
  return tiles;
}

Box FitPicture(const Box& area, int pictureWidth, int pictureHeight) {
  const int64_t w = area.right - area.left, h = area.bottom - area.top;
  if (pictureWidth <= 0 || pictureHeight <= 0 || w <= 0 || h <= 0) return area;
  // Full width when the picture is relatively wider than the area, else full
  // height; rounded to the nearest pixel.
  int64_t fitW = w, fitH = h;
  if (w * pictureHeight > h * pictureWidth) {
    fitW = std::max<int64_t>(1, (h * pictureWidth * 2 + pictureHeight) / (2 * pictureHeight));
  } else {
    fitH = std::max<int64_t>(1, (w * pictureHeight * 2 + pictureWidth) / (2 * pictureWidth));
  }
  const int left = area.left + static_cast<int>((w - fitW) / 2);
  const int top = area.top + static_cast<int>((h - fitH) / 2);
  return {left, top, left + static_cast<int>(fitW), top + static_cast<int>(fitH)};
}

}  // namespace qcview
