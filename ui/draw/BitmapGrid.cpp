#include "ui/draw/BitmapGrid.h"

#include <algorithm>

#include "ui/draw/AlphaBlend.h"
#include "ui/draw/GdiHandles.h"

namespace {

struct Box {
  int x, y, w, h;
};

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

// Copies boxes of the selected bitmap to the target: blended, or opaque (stretched or 1:1).
class CGridPainter {
public:
  CGridPainter(HDC target, HDC source, const GridParams& grid)
      : m_target(target),
        m_source(source),
        m_clip(grid.clip),
        m_blended(grid.hasAlpha || grid.fade != 255),
        m_blend(SkinBlend(grid.fade)) {}

  bool Blended() const { return m_blended; }

  // Drawn whole when it meets the clip rectangle; `exact` marks pieces of the source's own size.
  void Draw(const Box& to, const Box& from, bool exact = false) const {
    RECT box = {to.x, to.y, to.x + to.w, to.y + to.h};
    RECT met;
    if (to.w <= 0 || to.h <= 0 || from.w <= 0 || from.h <= 0 || !IntersectRect(&met, &box, &m_clip)) return;
    if (m_blended) {
      BlendFunction()(m_target, to.x, to.y, to.w, to.h, m_source, from.x, from.y, from.w, from.h, m_blend);
    } else if (exact) {
      BitBlt(m_target, to.x, to.y, to.w, to.h, m_source, from.x, from.y, SRCCOPY);
    } else {
      StretchBlt(m_target, to.x, to.y, to.w, to.h, m_source, from.x, from.y, from.w, from.h, SRCCOPY);
    }
  }

  // The part of an unscaled image that lies inside the clip rectangle.
  void CopyClipped(const RECT& dest, const RECT& source) const {
    RECT part;
    if (!IntersectRect(&part, &dest, &m_clip)) return;
    BitBlt(m_target, part.left, part.top, Width(part), Height(part), m_source, source.left + part.left - dest.left,
           source.top + part.top - dest.top, SRCCOPY);
  }

private:
  HDC m_target;
  HDC m_source;
  RECT m_clip;
  bool m_blended;
  BLENDFUNCTION m_blend;
};

// Tiles of one axis start every `tile` pixels from `start`; the last one is cropped at `end`
// (never squeezed).
int TileExtent(int start, int tile, int end) { return start + tile > end ? end - start : tile; }

struct TileRange {
  int first, last;  // tile indices, the last one excluded
};

// The tiles of one axis that meet [clipLow, clipHigh): only those are visited, so a huge centre
// costs no more than the clip rectangle holds.
TileRange TilesMeeting(int start, int end, int tile, int clipLow, int clipHigh) {
  int low = std::max(start, clipLow), high = std::min(end, clipHigh);
  if (tile <= 0 || low >= high) return {0, 0};
  return {(low - start) / tile, (high - start - 1) / tile + 1};
}

void DrawTiledCentre(const CGridPainter& painter, const GridParams& grid, const Box& centre, const Box& from) {
  int endX = centre.x + centre.w, endY = centre.y + centre.h;
  // An axis that is not tiled is one tile as large as the centre, stretched.
  TileRange columns = TilesMeeting(centre.x, endX, grid.xTiled ? from.w : centre.w, grid.clip.left, grid.clip.right);
  TileRange rows = TilesMeeting(centre.y, endY, grid.yTiled ? from.h : centre.h, grid.clip.top, grid.clip.bottom);
  // Only tiles cut on both axes are copied 1:1; a single tiled axis still stretches the other.
  bool exact = grid.xTiled && grid.yTiled;
  for (int i = rows.first; i < rows.last; ++i) {
    for (int j = columns.first; j < columns.last; ++j) {
      Box to = centre;
      Box part = from;
      if (grid.xTiled) {
        to.x = centre.x + j * from.w;
        to.w = part.w = TileExtent(to.x, from.w, endX);
      }
      if (grid.yTiled) {
        to.y = centre.y + i * from.h;
        to.h = part.h = TileExtent(to.y, from.h, endY);
      }
      painter.Draw(to, part, exact);
    }
  }
}

struct Span {
  int start, extent;
};

// A rectangle cut in three along one axis: the inset, the middle, the other inset.
void CutInThree(int low, int high, int lowInset, int highInset, Span out[3]) {
  out[0] = {low, lowInset};
  out[1] = {low + lowInset, high - low - lowInset - highInset};
  out[2] = {high - highInset, highInset};
}

void DrawNineGrid(const CGridPainter& painter, const GridParams& grid) {
  const RECT &d = grid.dest, &s = grid.source, &c = grid.corner;
  Span toColumns[3], toRows[3], fromColumns[3], fromRows[3];
  CutInThree(d.left, d.right, c.left, c.right, toColumns);
  CutInThree(d.top, d.bottom, c.top, c.bottom, toRows);
  CutInThree(s.left, s.right, c.left, c.right, fromColumns);
  CutInThree(s.top, s.bottom, c.top, c.bottom, fromRows);
  auto box = [](const Span& column, const Span& row) {
    return Box{column.start, row.start, column.extent, row.extent};
  };
  if (!grid.hole) {
    Box centre = box(toColumns[1], toRows[1]), centreSource = box(fromColumns[1], fromRows[1]);
    if (grid.xTiled || grid.yTiled) {
      DrawTiledCentre(painter, grid, centre, centreSource);
    } else {
      painter.Draw(centre, centreSource);
    }
  }
  // Then the border row by row: corners 1:1, edges stretched along their length. A border whose
  // inset is 0 has no extent, and pieces without extent are not drawn.
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      if (row == 1 && column == 1) continue;
      painter.Draw(box(toColumns[column], toRows[row]), box(fromColumns[column], fromRows[row]));
    }
  }
}

bool IsUnscaledWithoutCorners(const GridParams& grid) {
  const RECT& c = grid.corner;
  return Width(grid.dest) == Width(grid.source) && Height(grid.dest) == Height(grid.source) && c.left == 0 &&
         c.top == 0 && c.right == 0 && c.bottom == 0;
}

}  // namespace

void DrawBitmapGrid(HDC target, HBITMAP bitmap, const GridParams& grid) {
  BlendFunction();  // found before the first draw, once per process
  if (!bitmap) return;
  CMemoryDC source(CreateCompatibleDC(target));
  if (!source.IsValid()) return;
  CSelection selected(source.Get(), bitmap);
  SetStretchBltMode(target, COLORONCOLOR);
  CGridPainter painter(target, source.Get(), grid);
  if (!painter.Blended() && IsUnscaledWithoutCorners(grid)) {
    painter.CopyClipped(grid.dest, grid.source);
    return;
  }
  DrawNineGrid(painter, grid);
}
