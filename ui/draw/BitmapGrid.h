// Drawing part of a bitmap into a destination as a nine-grid: four fixed corners, four edges
// stretched along their length, and a centre that is stretched or tiled.
#pragma once

#include <windows.h>

struct GridParams {
  RECT dest;            // where the image goes, in target coordinates
  RECT clip;            // pieces that do not meet it are skipped
  RECT source;          // the part of the bitmap, in image pixels
  RECT corner;          // insets, the same in source and destination
  bool hasAlpha;        // per-pixel alpha: premultiplied pixels, blended
  BYTE fade;            // constant alpha of the whole draw; below 255 it blends too
  bool hole;            // skip the centre
  bool xTiled, yTiled;  // repeat the centre instead of stretching it
};

// A bitmap with alpha, or a fade below 255, goes through AlphaBlend (or the software blend);
// otherwise through StretchBlt and BitBlt. Leaves the target's stretch mode at COLORONCOLOR.
void DrawBitmapGrid(HDC target, HBITMAP bitmap, const GridParams& grid);
